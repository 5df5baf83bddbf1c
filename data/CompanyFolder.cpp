// Finding the company folder at start.
#include "app/OpenInvoiceDlg.h"
#include "data/CompanyFolder.h"

// Reads the company folder and names the three company files on the data controls.
void COpenInvoiceDlg::LocateCompanyFolder() {}
