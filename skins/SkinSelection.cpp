// Choosing the main window's skin, and remembering it for the next start.
#include "app/OpenInvoiceDlg.h"

// The built-in skins of the "Select Skin" menu.
void COpenInvoiceDlg::OnSkinGrey() {}
void COpenInvoiceDlg::OnSkinMilitary() {}
void COpenInvoiceDlg::OnSkinZhelezo() {}

// Any skin file, chosen in an open-file dialog.
void COpenInvoiceDlg::OnSkinOther() {}

// Records name as the first skin and loads it.
void COpenInvoiceDlg::SaveFirstSkin(const std::string&) {}

// Loads the remembered skin at start.
void COpenInvoiceDlg::LoadFirstSkin() {}

// Draws the skin buttons and labels in the skin the form holds now.
void COpenInvoiceDlg::ApplySkinToControls() {
    SkinFormInterface* form = m_SkinForm.GetSkinForm();
    for (int id : {IDC_PREV_BUTTON, IDC_DETAIL_BUTTON, IDC_NEXT_BUTTON, IDC_BALANCE_FILTER_BUTTON,
                   IDC_PRINT_BUTTON, IDC_SOUND_BUTTON, IDC_BALANCE_CAPTION, IDC_FAX_CAPTION,
                   IDC_DATE_HEADER, IDC_REFERENCE_HEADER, IDC_AMOUNT_HEADER, IDC_PAID_HEADER,
                   IDC_BALANCE_HEADER, IDC_BALANCE_VALUE})
        ApplySkin(GetDlgItem(id), form, 0);
}
