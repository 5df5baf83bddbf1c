// The report file: the customer's address block in "Output.txt", opened with the
// program the desktop associates with text files, from which the user prints it.
#include "app/OpenInvoiceDlg.h"
#include "links/LinkStatic.h"
#include "platform/platform.h"

// "Print": writes the four address lines, each ended by CR LF, and opens the file.
// A file that cannot be written stops here with a file error, before anything is
// opened; the shell's result is not shown.
void COpenInvoiceDlg::OnClickPrintButton() {
    using platform::TextFile;
    TextFile report("Output.txt", TextFile::modeCreate | TextFile::modeWrite | TextFile::typeText);
    for (const std::string* line : {&m_strBillName, &m_strBillAddr1, &m_strBillAddr2, &m_strCityStateZip})
        report.writeString(*line + "\n");
    report.close();
    // The name goes to the shell in lower case; the platform matches it to the file
    // just written whatever the case of its name.
    CLinkStatic::OpenUrl("output.txt", platform::SW_SHOWNORMAL);
}
