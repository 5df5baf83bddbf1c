// The main window: one customer's accounts-receivable position. The handlers of
// each subsystem are members of this class and are defined in that subsystem's
// folder (browser/, data/, skins/, links/); this folder holds the members, the data
// exchange, the maps, the start-up, the closing and the minimised icon.
#pragma once

#include <functional>
#include <string>

#include "data/CBtrvdcp1.h"
#include "framework/dialog.h"
#include "framework/listbox.h"
#include "platform/platform.h"
#include "res/resource.h"
#include "skins/SkinControls.h"

// Every sound of the program, started by file name and asynchronously.
namespace sounds {
inline constexpr unsigned kFlags = platform::SND_FILENAME | platform::SND_ASYNC;  // 0x00020001
inline constexpr const char* kAbout = "kxtheme.wav";       // About, whatever the switch
inline constexpr const char* kRecentList = "chimes.wav";   // company dialog's recent list, always
inline constexpr const char* kMove = "click.wav";          // "<" and ">", with the switch on
inline constexpr const char* kBalanceFilter = "boink.wav"; // "$", with the switch on
inline constexpr const char* kDetail = "detail.wav";       // "Show Detail", with the switch on
}  // namespace sounds

class COpenInvoiceDlg : public framework::CDialog {
public:
    explicit COpenInvoiceDlg(QWidget* parent = nullptr);
    ~COpenInvoiceDlg() override;

    enum { IDD = IDD_MAIN_DIALOG };

    // Members, in declaration order (the order of construction).
    unsigned char m_bSound = 0;            // sound switch, 1 = on; set by OnInitDialog
    framework::CListBox m_InvoiceList;     // IDC_INVOICE_LIST
    std::string m_strSearch;               // IDC_SEARCH_EDIT
    std::string m_strBillAddr1;            // IDC_BILLADDR1_EDIT
    std::string m_strBillAddr2;            // IDC_BILLADDR2_EDIT
    std::string m_strCityStateZip;         // IDC_CITYSTATEZIP_EDIT
    std::string m_strFax;                  // IDC_FAX_EDIT
    std::string m_strBillName;             // IDC_BILLNAME_EDIT
    std::string m_strPhone;                // IDC_PHONE_EDIT
    int m_nIndex;                          // IDC_NINDEX_EDIT
    std::string m_strCustID;               // IDC_CUSTID_EDIT
    CSkinForm m_SkinForm;                  // IDC_SKINFORM
    CBtrvdcp1 m_CustomerData;              // IDC_CUSTOMER_DATA
    CBtrvdcp1 m_JournalData;               // IDC_JOURNAL_DATA
    std::string m_strContact;              // IDC_CONTACT_EDIT
    std::string m_strEmail;                // IDC_EMAIL_EDIT
    std::string m_strDataPath;             // IDC_DATAPATH_EDIT
    std::string m_strSecPassword;          // IDC_SECPASSWORD_EDIT
    CBtrvdcp1 m_PermissData;               // IDC_PERMISS_DATA
    std::string m_strSecStatus;            // IDC_SECSTATUS_EDIT
    CSkinLabel m_BalanceLabel;             // IDC_BALANCE_VALUE
    framework::HICON m_hIcon;              // big and small window icon
    bool m_bStartingUp = false;            // OnInitDialog is running

    BOOL OnInitDialog() override;
    void OnOK() override;                  // Enter: the window stays open

    // Window (app/).
    void OnPaint();
    framework::HCURSOR OnQueryDragIcon();
    void OnFileExit();
    void OnSkinFormEvent(const QVariantList& args);  // skin-form events: no effect
    void OnSkinButtonPress();                        // skin-button press and release: no effect
    void OnSkinButtonRelease();
    // Restricted mode: hides "$", "<", "Show Detail", ">" and the balance for the run.
    void EnterRestrictedMode();
    // The sound rule: plays name when the sound switch is 1.
    void PlayWindowSound(const char* name);

    // Customer browser (browser/).
    void OnClickPrevButton();
    void OnClickNextButton();
    void OnChangeSearchEdit();
    void OnClickBalanceFilterButton();
    void OnClickSoundButton();
    void ShowCurrentCustomer();
    void OnClickDetailButton();
    void OnClickPrintButton();
    // Runs a user's action on data's company file: when the file cannot be read (data
    // raises its error, or RequireRead raises a status), one message names the file,
    // what is wrong and, in meanwhile, what the window shows instead; false then.
    // During start-up the error goes on to the start-up's own report.
    bool ReadCompany(CBtrvdcp1& data, const char* meanwhile, const std::function<void()>& action);

    // Company folder and security (data/).
    void LocateCompanyFolder();
    int CheckSecurity();
    void OnButton2();

    // Skin selection (skins/).
    void OnSkinGrey();
    void OnSkinMilitary();
    void OnSkinZhelezo();
    void OnSkinOther();
    void SaveFirstSkin(const std::string& name);
    void LoadFirstSkin();
    void ApplySkinToControls();

    // Web and e-mail commands (links/).
    void OnWebProductNews();
    void OnWebEmailFriend();
    void OnWebEmailUs();
    void OnWebPeachtreeStuff();

protected:
    void DoDataExchange(framework::CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};
