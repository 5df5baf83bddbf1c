// Choosing the main window's skin, and remembering it for the next start in the
// first-skin file "1stskin.kxi" of the current folder: one line, the skin's name as it
// was chosen (a bare name for a built-in skin, the full path of any other), written
// without a line end.
#include <iostream>

#include "app/OpenInvoiceDlg.h"
#include "platform/platform.h"

namespace {

constexpr const char* kFirstSkinFile = "1stskin.kxi";

// A built-in skin: shown at once, then remembered. If it cannot be remembered the
// command fails with the file error, and the skin stays on show for this run.
void chooseBuiltInSkin(COpenInvoiceDlg& dlg, const char* name) {
    dlg.m_SkinForm.SetSkinFile(name);
    dlg.ApplySkinToControls();
    dlg.SaveFirstSkin(name);
}

}  // namespace

void COpenInvoiceDlg::OnSkinGrey() { chooseBuiltInSkin(*this, "grey.skn"); }
void COpenInvoiceDlg::OnSkinMilitary() { chooseBuiltInSkin(*this, "military.skn"); }
void COpenInvoiceDlg::OnSkinZhelezo() { chooseBuiltInSkin(*this, "zhelezo.skn"); }

// Any skin file, chosen in an open-file dialog; Cancel changes nothing.
void COpenInvoiceDlg::OnSkinOther() {
    platform::OpenFileRequest request;
    request.filter = "Skins (*.skn)|*.skn";
    request.flags = 0x0004 | 0x0002;  // hide read-only, overwrite prompt
    const std::optional<std::string> chosen = platform::services().fileDialog->openFile(request);
    if (chosen) SaveFirstSkin(*chosen);
}

// Records name as the first skin, then loads it. The file is written first, so a skin
// that cannot be remembered is not loaded by this call.
void COpenInvoiceDlg::SaveFirstSkin(const std::string& name) {
    platform::TextFile file(kFirstSkinFile,
                            platform::TextFile::modeCreate | platform::TextFile::modeWrite |
                                platform::TextFile::typeText);
    file.writeString(name);
    m_SkinForm.SetSkinFile(name);
    ApplySkinToControls();
    file.close();
}

// Loads the remembered skin at start. Without a first-skin file (the first start), or
// with one that cannot be read, the window keeps the skin its template holds and the
// start goes on.
void COpenInvoiceDlg::LoadFirstSkin() {
    std::string name;
    try {
        platform::TextFile file(kFirstSkinFile,
                                platform::TextFile::modeRead | platform::TextFile::shareDenyNone |
                                    platform::TextFile::typeText);
        file.readString(name);  // up to the first line end; an empty file gives ""
        file.close();
    } catch (const platform::FileError& error) {
        if (error.cause() != platform::FileError::Cause::FileNotFound)
            std::cerr << kFirstSkinFile << ": " << error.what() << "; the window keeps its own skin\n";
        return;
    }
    m_SkinForm.SetSkinFile(name);
    ApplySkinToControls();
}

// Draws the skin buttons and labels in the skin the form holds now.
void COpenInvoiceDlg::ApplySkinToControls() {
    SkinFormInterface* form = m_SkinForm.GetSkinForm();
    for (int id : {IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON, IDC_BALANCE_FILTER_BUTTON,
                   IDC_PRINT_BUTTON, IDC_SOUND_BUTTON, IDC_BALANCE_CAPTION, IDC_FAX_CAPTION,
                   IDC_DATE_HEADER, IDC_REFERENCE_HEADER, IDC_AMOUNT_HEADER, IDC_PAID_HEADER,
                   IDC_BALANCE_HEADER, IDC_BALANCE_VALUE})
        ApplySkin(GetDlgItem(id), form, 0);
}
