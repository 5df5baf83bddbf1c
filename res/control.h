// The helpers the window templates are written with: one control row, and the stored
// look of a skin button or label.
#pragma once

#include "framework/dialog_template.h"

#include <cstdint>

namespace res {

// One control of a template: id and its name, kind, place and size in dialog units,
// style bits and caption; humanName where the caption names nothing (edits, lists).
inline framework::ControlTemplate control(int id, const char* name, framework::ControlKind kind, int x, int y,
                                          int cx, int cy, std::uint32_t style, const char* caption = "",
                                          const char* humanName = "", std::uint32_t exStyle = 0) {
    framework::ControlTemplate c;
    c.id = id; c.idName = name; c.kind = kind;
    c.x = x; c.y = y; c.cx = cx; c.cy = cy;
    c.style = style; c.exStyle = exStyle;
    c.caption = caption; c.accessibleName = humanName;
    return c;
}

// An ActiveX control of the class className, with its stored properties.
inline framework::ControlTemplate activeX(int id, const char* name, const char* className, int x, int y, int cx,
                                          int cy, std::uint32_t style, framework::PropertyMap properties,
                                          const char* caption = "") {
    framework::ControlTemplate c = control(id, name, framework::ControlKind::ActiveX, x, y, cx, cy, style, caption);
    c.className = className;
    c.properties = std::move(properties);
    return c;
}

// The stored properties of a skin button or label: its caption, its font (bold and
// larger when large) and the skin section it draws from ("Button", "Label").
inline framework::PropertyMap skinLook(const char* caption, const char* section, bool large = false) {
    return framework::PropertyMap{{"Caption", caption},
                                  {"FontName", "MS Sans Serif"},
                                  {"FontSize", large ? "9.75" : "8.25"},
                                  {"FontWeight", large ? "700" : "400"},
                                  {"Text", section}};
}

}  // namespace res
