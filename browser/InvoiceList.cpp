// The open-invoice list of the customer on show.
#include "app/OpenInvoiceDlg.h"

// "Show Detail": lists the customer's open invoices.
void COpenInvoiceDlg::OnClickDetailButton() { PlayWindowSound(sounds::kDetail); }
