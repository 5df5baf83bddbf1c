// The web and e-mail commands of the "Info" menu. Each opens its fixed target through
// the shell, as a link would, but shows and plays nothing when it cannot.
#include "app/OpenInvoiceDlg.h"
#include "links/LinkStatic.h"
#include "links/WebTargets.h"

namespace {

void openQuietly(const char* target) {
    CLinkStatic link;  // no window: the setters only store
    link.SetUrl(target);
    link.SetUnderline(FALSE);
    link.OpenUrl(target, platform::SW_SHOWNORMAL);
}

}  // namespace

void COpenInvoiceDlg::OnWebProductNews() { openQuietly(links::kProductNewsUrl); }

void COpenInvoiceDlg::OnWebEmailFriend() { openQuietly(links::kEmailFriendUrl); }

void COpenInvoiceDlg::OnWebEmailUs() { openQuietly(links::kEmailUsUrl); }

void COpenInvoiceDlg::OnWebPeachtreeStuff() { openQuietly(links::kPeachtreeStuffUrl); }
