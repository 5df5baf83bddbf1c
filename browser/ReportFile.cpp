// The report file: the customer's address block in "Output.txt", opened with the
// program the desktop associates with text files, from which the user prints it.
#include "app/OpenInvoiceDlg.h"
#include "platform/platform.h"

namespace {

// Hands a file or URL to the desktop's "open"; returns the shell's code (above 32:
// success).
long OpenUrl(const std::string& target, int showCommand) {
    return platform::services().shell->shellOpen(target, showCommand);
}

}  // namespace

// "Print": writes the four address lines, each ended by CR LF, and opens the file.
// A file that cannot be written stops here with a file error, before anything is
// opened; the shell's result is not shown.
void COpenInvoiceDlg::OnClickPrintButton() {
    using platform::TextFile;
    TextFile report("Output.txt", TextFile::modeCreate | TextFile::modeWrite | TextFile::typeText);
    for (const std::string* line : {&m_strBillName, &m_strBillAddr1, &m_strBillAddr2, &m_strCityStateZip})
        report.writeString(*line + "\n");
    report.close();
    // The name in lower case, as the shell has always been given it; the platform
    // matches it to the file just written whatever the case of its name.
    OpenUrl("output.txt", platform::SW_SHOWNORMAL);
}
