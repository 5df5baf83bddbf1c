// A small company for the window tests, written with the engine's writer into the
// test's current folder, with "DataPath.kxi" naming that folder.
#pragma once

#include <QDir>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "company_files.h"

namespace smallcompany {

using User = std::pair<std::string, std::string>;  // name, stored password

// The company folder is the current folder; its files carry the names the window's
// data controls hold until the company folder is located ("Permiss.dat" among them).
inline std::string companyFolder() { return QDir::currentPath().toStdString(); }
inline std::string companyFile(const std::string& name) { return companyFolder() + "/" + name; }
inline const char* const kCustomerFile = "customer.dat";
inline const char* const kJournalFile = "journal.dat";
inline const char* const kPermissFile = "Permiss.dat";

// The writer never overwrites a file: what a test wrote before is removed first.
inline void writeFresh(const std::string& path, const btrieve::WriterOptions& options,
                       const std::vector<testdata::Record>& records) {
    std::remove(path.c_str());
    testdata::writeRecords(path, options, records);
}

inline void writeCustomers(const std::string& path) {
    auto acme = testdata::customer("ACME", "Acme Corp", 1234.5, 1);
    acme.text("BillCity", "Reno").text("BillState", "NV").text("Phone", "555-0101");
    writeFresh(path, testdata::optionsFor(layouts::customer()),
                           {acme, testdata::customer("BETA", "Beta Ltd", 0.0, 2)});
}

inline void writeJournal(const std::string& path) {
    writeFresh(path, testdata::optionsFor(layouts::journal(), true),
                           {testdata::invoice(1, 3, "INV-1", 100, 40), testdata::invoice(2, 3, "INV-2", 50, 0)});
}

inline void writePermissions(const std::string& path, const std::vector<User>& users) {
    std::vector<testdata::Record> records;
    for (const auto& [name, password] : users) records.push_back(testdata::user(name, password));
    writeFresh(path, testdata::optionsFor(layouts::permiss()), records);
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A whole company with these users, and "DataPath.kxi" naming its folder.
inline void writeCompany(const std::vector<User>& users) {
    writeCustomers(companyFile(kCustomerFile));
    writeJournal(companyFile(kJournalFile));
    writePermissions(companyFile(kPermissFile), users);
    writeText("DataPath.kxi", companyFolder());
}

}  // namespace smallcompany
