// The report file: the customer's address block in "Output.txt", opened with the
// program the desktop associates with text files, from which the user prints it.
#include "app/OpenInvoiceDlg.h"
#include "links/LinkStatic.h"
#include "platform/platform.h"

namespace {
constexpr const char* kReportFile = "Output.txt";
}

// "Print": writes the four address lines, each ended by CR LF, and opens the file.
// A file that cannot be written stops here with a file error, before anything is
// opened; the shell's result is not shown.
void COpenInvoiceDlg::OnClickPrintButton() {
    using platform::TextFile;
    TextFile report(kReportFile, TextFile::modeCreate | TextFile::modeWrite | TextFile::typeText);
    for (const std::string* line : {&m_strBillName, &m_strBillAddr1, &m_strBillAddr2, &m_strCityStateZip})
        report.writeString(*line + "\n");
    report.close();
    // The name goes to the shell as it was written: the platform's case-blind match
    // takes the exact spelling first, so an older "output.txt" beside it (file names
    // count case here) is never the one opened.
    CLinkStatic::OpenUrl(kReportFile, platform::SW_SHOWNORMAL);
}
