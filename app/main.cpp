// The program: one application object, run once.
#include <QApplication>

#include "app/OpenInvoice.h"

COpenInvoiceApp theApp;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    RegisterProgramResources();
    return theApp.Run();
}
