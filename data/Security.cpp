// The company's user security.
#include "app/OpenInvoiceDlg.h"
#include "data/Security.h"

// Looks up the program's Peachtree user: 0 no password needed, 1 accepted, -1 restricted.
int COpenInvoiceDlg::CheckSecurity() { return 0; }

// The hidden security button: asks for the password and ignores the answer.
void COpenInvoiceDlg::OnButton2() {}
