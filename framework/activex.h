// Hosting of "ActiveX-like" controls in dialog templates. A control class is
// registered under its class name; a template control of kind ActiveX names the
// class and carries the control's stored properties, which the factory receives
// when the framework creates the control. A class that is not registered cannot
// be created, and the dialog then ends at once with -1, as a missing control would.
//
// Events: every hosted control widget declares the Qt signal
//     void axEvent(int dispid, const QVariantList& args);
// and the framework's event map connects to it by that name.
#pragma once

#include <functional>
#include <map>
#include <string>

class QWidget;

namespace framework {

// Stored properties of a control, as its template carries them (name -> text).
using PropertyMap = std::map<std::string, std::string>;

struct ActiveXCreateInfo {
    int id = 0;
    std::string idName;        // e.g. "IDC_NEXT_BUTTON"
    std::string caption;       // the template's caption, if any
    PropertyMap properties;    // stored properties
};

// Creates the control's widget as a child of parent, or returns nullptr when the
// control cannot be created.
using ActiveXFactory = std::function<QWidget*(const ActiveXCreateInfo&, QWidget* parent)>;

void registerActiveXClass(const std::string& className, ActiveXFactory factory);
void unregisterActiveXClass(const std::string& className);  // tests: a control that is missing
const ActiveXFactory* findActiveXClass(const std::string& className);

}  // namespace framework
