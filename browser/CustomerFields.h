// The customer's texts the window shows in its edits: each member with how it is read
// from the current customer record. Showing a customer fills them, taking back a
// failed display clears them, so a new edit is one row here.
#pragma once

#include <string>

#include "app/OpenInvoiceDlg.h"

namespace browser {

struct CustomerText {
    std::string COpenInvoiceDlg::*member;
    std::string (*read)(CBtrvdcp1& customer);
};

inline std::string fieldText(CBtrvdcp1& customer, const char* field) {
    return customer.GetFieldValue(field).toString();
}

inline constexpr CustomerText kCustomerTexts[] = {
    {&COpenInvoiceDlg::m_strCustID, [](CBtrvdcp1& c) { return fieldText(c, "custID"); }},
    {&COpenInvoiceDlg::m_strBillName, [](CBtrvdcp1& c) { return fieldText(c, "BillName"); }},
    {&COpenInvoiceDlg::m_strBillAddr1, [](CBtrvdcp1& c) { return fieldText(c, "BillAddr1"); }},
    {&COpenInvoiceDlg::m_strBillAddr2, [](CBtrvdcp1& c) { return fieldText(c, "BillAddr2"); }},
    {&COpenInvoiceDlg::m_strCityStateZip,
     [](CBtrvdcp1& c) {
         return fieldText(c, "BillCity") + ",   " + fieldText(c, "BillState") + "  " + fieldText(c, "BillZip");
     }},
    {&COpenInvoiceDlg::m_strPhone, [](CBtrvdcp1& c) { return fieldText(c, "Phone"); }},
    {&COpenInvoiceDlg::m_strFax, [](CBtrvdcp1& c) { return fieldText(c, "Fax"); }},
    {&COpenInvoiceDlg::m_strEmail, [](CBtrvdcp1& c) { return fieldText(c, "Email"); }},
    {&COpenInvoiceDlg::m_strContact, [](CBtrvdcp1& c) { return fieldText(c, "Contact"); }},
};

}  // namespace browser
