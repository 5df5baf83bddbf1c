// The About box's template: nine controls in template order.
#include "res/templates.h"

#include "framework/win.h"
#include "res/control.h"
#include "res/resource.h"

namespace res {

const char* const kMakerNotice = "Copyright (C) 2026 Corvane";
const char* const kMakerWebAddress = "www.openinvoice.example";
const char* const kMakerMailLink = "mailto:vexel@openinvoice.example";

namespace {

using framework::ControlKind;

framework::DialogTemplate build() {
    framework::DialogTemplate t;
    t.id = IDD_ABOUTBOX;
    t.idName = "IDD_ABOUTBOX";
    t.caption = "About Peachtree Open Item Vexel";
    t.cx = 232; t.cy = 143;
    t.style = 0x80C800C0;

    t.controls = {
        control(framework::IDOK, "IDOK", ControlKind::PushButton, 196, 5, 29, 14, 0x50010001, "OK"),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Picture, 13, 17, 21, 19, 0x5000000E, "", "",
                framework::WS_EX_DLGMODALFRAME | framework::WS_EX_CLIENTEDGE),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Static, 45, 16, 98, 8, 0x50020000,
                "Peachtree Vexel-101"),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Static, 45, 26, 98, 8, 0x50020000,
                kMakerNotice),
        activeX(IDC_SKINFORM, "IDC_SKINFORM", "SkinForm", 139, 26, 21, 20, 0x50000000, {{"SkinFile", "grey.skn"}}),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Static, 21, 128, 204, 8, 0x50020000,
                "Peachtree is a registered trademark of Peachtree Software, Inc."),
        control(IDC_WEB_LINK, "IDC_WEB_LINK", ControlKind::Static, 7, 46, 82, 16, 0x50020001,
                kMakerWebAddress, "", framework::WS_EX_TRANSPARENT),
        control(IDC_MAIL_LINK, "IDC_MAIL_LINK", ControlKind::Static, 107, 47, 118, 16, 0x50000001,
                kMakerMailLink, "", framework::WS_EX_TRANSPARENT),
        activeX(IDC_VERSION_LABEL, "IDC_VERSION_LABEL", "SkinLabel", 21, 71, 167, 19, 0x50000000,
                skinLook("", "Label")),
    };
    return t;
}

}  // namespace

const framework::DialogTemplate& aboutBox() {
    static const framework::DialogTemplate t = build();
    return t;
}

}  // namespace res
