// The templates of the company-folder dialog and the password dialog.
#include "res/templates.h"

#include "framework/win.h"
#include "res/control.h"
#include "res/resource.h"

namespace res {
namespace {

using framework::ControlKind;

framework::DialogTemplate buildCompany() {
    framework::DialogTemplate t;
    t.id = IDD_COMPANY_DIALOG;
    t.idName = "IDD_COMPANY_DIALOG";
    t.caption = "Dialog";
    t.cx = 212; t.cy = 135;
    t.style = 0x80C800C0;
    t.controls = {
        control(framework::IDOK, "IDOK", ControlKind::PushButton, 155, 7, 50, 14, 0x50010001, "OK"),
        control(framework::IDCANCEL, "IDCANCEL", ControlKind::PushButton, 155, 24, 50, 14, 0x50010000, "Cancel"),
        control(IDC_SHOW_RECENT_BUTTON, "IDC_SHOW_RECENT_BUTTON", ControlKind::PushButton, 7, 44, 72, 14,
                0x50010000, "Show Recent List"),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Static, 7, 7, 133, 8, 0x50000000,
                "Path to Peachtree Company Folder"),
        control(IDC_COMPANY_PATH_EDIT, "IDC_COMPANY_PATH_EDIT", ControlKind::Edit, 7, 16, 99, 14, 0x50810080,
                "", "Path to Peachtree Company Folder"),
        control(IDC_RECENT_LIST, "IDC_RECENT_LIST", ControlKind::ListBox, 7, 62, 159, 66, 0x50A10103, "",
                "Recent companies"),
    };
    return t;
}

framework::DialogTemplate buildPassword() {
    framework::DialogTemplate t;
    t.id = IDD_PASSWORD_DIALOG;
    t.idName = "IDD_PASSWORD_DIALOG";
    t.caption = "Vexel Security";
    t.cx = 213; t.cy = 55;
    t.style = 0x80C800C0;
    t.controls = {
        control(IDC_PASSWORD_EDIT, "IDC_PASSWORD_EDIT", ControlKind::Edit, 7, 18, 130, 14, 0x508100A0, "",
                "Password"),
        control(framework::IDOK, "IDOK", ControlKind::PushButton, 155, 4, 50, 14, 0x50010001, "OK"),
        control(framework::IDCANCEL, "IDCANCEL", ControlKind::PushButton, 156, 23, 50, 14, 0x50010000, "Cancel"),
        control(framework::IDC_STATIC, "IDC_STATIC", ControlKind::Static, 7, 4, 152, 8, 0x50000000,
                "Please Enter The Vexel Password"),
        control(IDC_EXPECTED1_EDIT, "IDC_EXPECTED1_EDIT", ControlKind::Edit, 7, 30, 40, 14, 0x40800080),
        control(IDC_EXPECTED2_EDIT, "IDC_EXPECTED2_EDIT", ControlKind::Edit, 39, 30, 40, 14, 0x40800080),
    };
    return t;
}

}  // namespace

const framework::DialogTemplate& companyDialog() {
    static const framework::DialogTemplate t = buildCompany();
    return t;
}

const framework::DialogTemplate& passwordDialog() {
    static const framework::DialogTemplate t = buildPassword();
    return t;
}

}  // namespace res
