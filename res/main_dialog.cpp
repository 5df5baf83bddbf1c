// The main window's template: 34 controls in template order, which is also the tab
// order and the drawing order (the first on top). Positions in dialog units.
#include "res/templates.h"

#include "data/layouts.h"
#include "framework/win.h"
#include "res/control.h"
#include "res/resource.h"

namespace res {
namespace {

using framework::ControlKind;
using framework::ControlTemplate;

constexpr std::uint32_t kVisibleEdit = 0x50800080;   // child, visible, border, auto scroll
constexpr std::uint32_t kLookupEdit = 0x50810080;    // ... and a tab stop
constexpr std::uint32_t kHiddenEdit = 0x40810080;    // child, border, tab stop, auto scroll
constexpr std::uint32_t kVisibleControl = 0x50000000;
constexpr std::uint32_t kHiddenControl = 0x40000000;

ControlTemplate edit(int id, const char* name, int x, int y, int cx, int cy, std::uint32_t style,
                     const char* humanName) {
    return control(id, name, ControlKind::Edit, x, y, cx, cy, style, "", humanName);
}

ControlTemplate skinButton(int id, const char* name, int x, int y, int cx, int cy, const char* caption) {
    return activeX(id, name, "SkinButton", x, y, cx, cy, kVisibleControl, skinLook(caption, "Button"), caption);
}

ControlTemplate skinLabel(int id, const char* name, int x, int y, int cx, int cy, const char* caption,
                          bool large = false) {
    return activeX(id, name, "SkinLabel", x, y, cx, cy, kVisibleControl, skinLook(caption, "Label", large),
                   caption);
}

ControlTemplate dataControl(int id, const char* name, int x, int y, const layouts::Layout& layout) {
    framework::PropertyMap stored;
    for (const auto& [key, value] : layouts::toStoredState(layout)) stored[key] = value;
    return activeX(id, name, "BtrvDataControl", x, y, 53, 17, kHiddenControl, std::move(stored));
}

framework::DialogTemplate build() {
    framework::DialogTemplate t;
    t.id = IDD_MAIN_DIALOG;
    t.idName = "IDD_MAIN_DIALOG";
    t.caption = "Peachtree Open Invoice Vexel";
    t.cx = 274; t.cy = 191;
    t.fontName = "MS Sans Serif"; t.fontPoints = 8;
    t.style = 0x90CA02C4;
    t.exStyle = framework::WS_EX_APPWINDOW;
    t.menuId = IDR_MAIN_MENU;

    t.controls = {
        edit(IDC_SEARCH_EDIT, "IDC_SEARCH_EDIT", 122, 8, 58, 14, kLookupEdit, "Find customer ID"),
        edit(IDC_BILLNAME_EDIT, "IDC_BILLNAME_EDIT", 9, 24, 171, 12, kVisibleEdit, "Bill name"),
        edit(IDC_BILLADDR1_EDIT, "IDC_BILLADDR1_EDIT", 9, 38, 171, 12, kVisibleEdit, "Bill address line 1"),
        edit(IDC_BILLADDR2_EDIT, "IDC_BILLADDR2_EDIT", 9, 52, 171, 12, kVisibleEdit, "Bill address line 2"),
        edit(IDC_CITYSTATEZIP_EDIT, "IDC_CITYSTATEZIP_EDIT", 9, 66, 171, 12, kVisibleEdit, "City, state and zip"),
        edit(IDC_PHONE_EDIT, "IDC_PHONE_EDIT", 9, 80, 61, 12, kVisibleEdit, "Phone"),
        edit(IDC_FAX_EDIT, "IDC_FAX_EDIT", 119, 80, 61, 12, kVisibleEdit, "Fax"),
        skinButton(IDC_PREV_BUTTON, "IDC_PREV_BUTTON", 198, 25, 22, 16, "<"),
        skinButton(IDC_DETAIL_BUTTON, "IDC_DETAIL_BUTTON", 199, 46, 66, 16, "Show Detail"),
        skinButton(IDC_NEXT_BUTTON, "IDC_NEXT_BUTTON", 223, 25, 22, 16, ">"),
        edit(IDC_NINDEX_EDIT, "IDC_NINDEX_EDIT", 113, 140, 40, 12, kHiddenEdit, "Customer index"),
        edit(IDC_CUSTID_EDIT, "IDC_CUSTID_EDIT", 9, 8, 97, 14, kVisibleEdit, "Customer ID"),
        activeX(IDC_SKINFORM, "IDC_SKINFORM", "SkinForm", 87, 150, 21, 20, kVisibleControl,
                {{"SkinFile", "grey.skn"}}),
        skinButton(IDC_BALANCE_FILTER_BUTTON, "IDC_BALANCE_FILTER_BUTTON", 249, 25, 16, 16, "$"),
        dataControl(IDC_CUSTOMER_DATA, "IDC_CUSTOMER_DATA", 29, 146, layouts::customer()),
        dataControl(IDC_JOURNAL_DATA, "IDC_JOURNAL_DATA", 154, 143, layouts::journal()),
        edit(IDC_CONTACT_EDIT, "IDC_CONTACT_EDIT", 9, 94, 171, 12, kVisibleEdit, "Contact"),
        edit(IDC_EMAIL_EDIT, "IDC_EMAIL_EDIT", 9, 108, 171, 12, kVisibleEdit, "E-mail"),
        skinLabel(IDC_BALANCE_CAPTION, "IDC_BALANCE_CAPTION", 205, 94, 53, 10, "Balance", true),
        skinLabel(IDC_FAX_CAPTION, "IDC_FAX_CAPTION", 93, 81, 24, 10, "Fax"),
        edit(IDC_DATAPATH_EDIT, "IDC_DATAPATH_EDIT", 108, 157, 40, 14, kHiddenEdit, "Company folder"),
        control(IDC_INVOICE_LIST, "IDC_INVOICE_LIST", ControlKind::ListBox, 9, 136, 254, 49, 0x50B00183, "",
                "Open invoices", framework::WS_EX_CLIENTEDGE),
        control(IDC_BUTTON2, "IDC_BUTTON2", ControlKind::PushButton, 63, 167, 50, 14, 0x40010000, "Button2"),
        dataControl(IDC_PERMISS_DATA, "IDC_PERMISS_DATA", 113, 132, layouts::permiss()),
        edit(IDC_SECPASSWORD_EDIT, "IDC_SECPASSWORD_EDIT", 133, 151, 86, 14, kHiddenEdit, "Security password"),
        edit(IDC_SECSTATUS_EDIT, "IDC_SECSTATUS_EDIT", 132, 167, 86, 14, kHiddenEdit, "Security status"),
        skinLabel(IDC_DATE_HEADER, "IDC_DATE_HEADER", 16, 125, 37, 10, "Date"),
        skinLabel(IDC_REFERENCE_HEADER, "IDC_REFERENCE_HEADER", 58, 125, 45, 10, "Reference"),
        skinLabel(IDC_AMOUNT_HEADER, "IDC_AMOUNT_HEADER", 108, 125, 51, 10, "Invoice Amount"),
        skinLabel(IDC_PAID_HEADER, "IDC_PAID_HEADER", 172, 125, 34, 10, "Paid"),
        skinLabel(IDC_BALANCE_HEADER, "IDC_BALANCE_HEADER", 210, 125, 39, 10, "Balance"),
        skinButton(IDC_PRINT_BUTTON, "IDC_PRINT_BUTTON", 199, 67, 66, 16, "Print"),
        skinLabel(IDC_BALANCE_VALUE, "IDC_BALANCE_VALUE", 205, 107, 53, 10, "Balance", true),
        skinButton(IDC_SOUND_BUTTON, "IDC_SOUND_BUTTON", 255, 3, 14, 10, "S"),
    };
    return t;
}

}  // namespace

const framework::DialogTemplate& mainDialog() {
    static const framework::DialogTemplate t = build();
    return t;
}

}  // namespace res
