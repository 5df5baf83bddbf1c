// The program's window templates and menu, as data.
#pragma once

#include "framework/dialog_template.h"

namespace res {

const framework::DialogTemplate& mainDialog();
const framework::DialogTemplate& aboutBox();
const framework::DialogTemplate& companyDialog();
const framework::DialogTemplate& passwordDialog();
const framework::MenuTemplate& mainMenu();

// The maker's texts shown in the About box.
extern const char* const kMakerNotice;
extern const char* const kMakerWebAddress;   // without a scheme
extern const char* const kMakerMailLink;     // "mailto:..."

// Registers every template above with the framework (idempotent).
void RegisterResources();

}  // namespace res
