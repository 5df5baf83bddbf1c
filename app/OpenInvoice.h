// The application object: runs the main window modally for the life of the program
// and handles the commands that are not the main window's own (About, Help, the
// company folder).
#pragma once

#include "framework/cmdtarget.h"

class COpenInvoiceApp : public framework::CWinApp {
public:
    COpenInvoiceApp();
    ~COpenInvoiceApp() override;

    BOOL InitInstance() override;

    void OnAppAbout();
    void OnSelectCompany();

    DECLARE_MESSAGE_MAP()
};

// Registers the window templates and the control classes the templates name.
void RegisterProgramResources();
