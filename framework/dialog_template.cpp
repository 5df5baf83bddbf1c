#include "framework/dialog_template.h"

#include <map>

namespace framework {
namespace {

std::map<int, DialogTemplate>& dialogs() {
    static std::map<int, DialogTemplate> templates;
    return templates;
}

std::map<int, MenuTemplate>& menus() {
    static std::map<int, MenuTemplate> templates;
    return templates;
}

std::map<int, std::vector<std::string>>& icons() {
    static std::map<int, std::vector<std::string>> resources;
    return resources;
}

}  // namespace

void registerIconResource(int id, std::vector<std::string> files) { icons()[id] = std::move(files); }

const std::vector<std::string>* findIconResource(int id) {
    auto it = icons().find(id);
    return it == icons().end() ? nullptr : &it->second;
}

void registerDialogTemplate(const DialogTemplate& dialogTemplate) {
    dialogs()[dialogTemplate.id] = dialogTemplate;
}

void registerMenuTemplate(const MenuTemplate& menuTemplate) { menus()[menuTemplate.id] = menuTemplate; }

const DialogTemplate* findDialogTemplate(int id) {
    auto it = dialogs().find(id);
    return it == dialogs().end() ? nullptr : &it->second;
}

const MenuTemplate* findMenuTemplate(int id) {
    auto it = menus().find(id);
    return it == menus().end() ? nullptr : &it->second;
}

}  // namespace framework
