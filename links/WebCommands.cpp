// The web and e-mail commands of the "Info" menu.
#include "app/OpenInvoiceDlg.h"

// Opens the product news page.
void COpenInvoiceDlg::OnWebProductNews() {}

// Opens a new mail that tells a friend about the program.
void COpenInvoiceDlg::OnWebEmailFriend() {}

// Opens a new mail to the maker.
void COpenInvoiceDlg::OnWebEmailUs() {}

// Opens the page of further Peachtree utilities.
void COpenInvoiceDlg::OnWebPeachtreeStuff() {}
