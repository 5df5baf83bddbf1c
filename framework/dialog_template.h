// Dialog and menu templates as data. A dialog template gives the window's caption,
// size in dialog units, font, styles and menu, and its controls in template order
// (which is the tab order and the drawing order, the first on top). The res/ folder
// defines the program's templates and registers them by id at start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/activex.h"

namespace framework {

enum class ControlKind { Edit, ListBox, PushButton, Static, Picture, ActiveX };

struct ControlTemplate {
    int id = -1;
    std::string idName;          // "IDC_BILLNAME_EDIT"; "IDC_STATIC" for id -1
    ControlKind kind = ControlKind::Static;
    std::string className;       // ActiveX class name ("SkinButton", "BtrvDataControl")
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::uint32_t style = 0;     // Windows style bits
    std::uint32_t exStyle = 0;   // Windows extended style bits
    std::string caption;         // Windows-1252 text
    std::string accessibleName;  // a human name where the caption gives none (edits)
    PropertyMap properties;      // stored properties of an ActiveX control
};

struct DialogTemplate {
    int id = 0;
    std::string idName;          // "IDD_MAIN_DIALOG"
    std::string caption;
    int cx = 0, cy = 0;          // client size in dialog units
    std::string fontName = "MS Sans Serif";
    int fontPoints = 8;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int menuId = 0;              // 0: no menu
    std::vector<ControlTemplate> controls;
};

struct MenuItem {
    std::string text;            // Windows-1252 text, no access keys
    int id = 0;                  // 0 for a submenu
    std::string idName;          // "ID_FILE_EXIT"
    std::vector<MenuItem> items; // a submenu's items
};

struct MenuTemplate {
    int id = 0;
    std::string idName;
    std::vector<MenuItem> menus; // the menu bar's menus, left to right
};

// Registration by id; a later registration of the same id replaces the earlier.
void registerDialogTemplate(const DialogTemplate& dialogTemplate);
void registerMenuTemplate(const MenuTemplate& menuTemplate);
const DialogTemplate* findDialogTemplate(int id);
// An icon resource: its image files (one per size), relative to the program folder.
void registerIconResource(int id, std::vector<std::string> files);
const std::vector<std::string>* findIconResource(int id);
const MenuTemplate* findMenuTemplate(int id);

}  // namespace framework
