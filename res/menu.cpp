// The main window's menu, and the registration of every template by id.
#include "framework/dialog_template.h"
#include "res/resource.h"
#include "res/templates.h"

namespace res {
namespace {

using framework::MenuItem;

MenuItem item(const char* text, int id, const char* idName) { return MenuItem{text, id, idName, {}}; }
MenuItem submenu(const char* text, std::vector<MenuItem> items) {
    return MenuItem{text, 0, "", std::move(items)};
}

framework::MenuTemplate build() {
    framework::MenuTemplate m;
    m.id = IDR_MAIN_MENU;
    m.idName = "IDR_MAIN_MENU";
    m.menus = {
        submenu("File", {
            item("Select Peach Company ", ID_FILE_SELECTCOMPANY, "ID_FILE_SELECTCOMPANY"),
            submenu("Select Skin", {
                item("Grey", ID_SKIN_GREY, "ID_SKIN_GREY"),
                item("Military", ID_SKIN_MILITARY, "ID_SKIN_MILITARY"),
                item("Zhelezo", ID_SKIN_ZHELEZO, "ID_SKIN_ZHELEZO"),
                item("Other...", ID_SKIN_OTHER, "ID_SKIN_OTHER"),
            }),
            item("Exit", ID_FILE_EXIT, "ID_FILE_EXIT"),
        }),
        submenu("Info", {
            item("Help", ID_INFO_HELP, "ID_INFO_HELP"),
            submenu("Corvane On The Web", {
                item("Product News", ID_WEB_PRODUCTNEWS, "ID_WEB_PRODUCTNEWS"),
                item("Cool Peachtree Stuff", ID_WEB_PEACHTREESTUFF, "ID_WEB_PEACHTREESTUFF"),
                item("Email Us", ID_WEB_EMAILUS, "ID_WEB_EMAILUS"),
                item("Email 'Open Item Vexel' To A Friend", ID_WEB_EMAILFRIEND, "ID_WEB_EMAILFRIEND"),
            }),
            item("About", ID_INFO_ABOUT, "ID_INFO_ABOUT"),
        }),
    };
    return m;
}

}  // namespace

const framework::MenuTemplate& mainMenu() {
    static const framework::MenuTemplate m = build();
    return m;
}

void RegisterResources() {
    framework::registerDialogTemplate(mainDialog());
    framework::registerDialogTemplate(aboutBox());
    framework::registerDialogTemplate(companyDialog());
    framework::registerDialogTemplate(passwordDialog());
    framework::registerMenuTemplate(mainMenu());
    framework::registerIconResource(IDR_MAINFRAME, {"icons/openinvoice-32.png", "icons/openinvoice-16.png"});
}

}  // namespace res
