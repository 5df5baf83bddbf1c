// mkcompany: writes a sample or benchmark company folder (customer.dat,
// journal.dat, permiss.dat) in the record layouts of data/layouts.h, and the data
// dictionary that describes them (FILE.DDF, FIELD.DDF, INDEX.DDF).
//
//   mkcompany DIR [--customers N] [--journal-rows M]
//             [--security none|vexel-password|lesser-user|no-vexel]
//             [--password TEXT] [--seed S] [--format 6|8]
//
// The same arguments give byte-identical files. Existing company files are never
// overwritten. A wrong argument is named with what is wrong with it (exit 2); a
// folder that cannot be created or written in is reported with the cause, e.g.
// "permission denied", before any file is begun (exit 1). Arguments are UTF-8 and
// the files hold Windows-1252, so the password is converted; a character the code
// page lacks is refused. What the company holds:
// - Customers with believable names, contacts, phones, faxes and e-mail addresses;
//   second address lines mostly empty, some states empty (foreign addresses), some
//   names in Windows-1252 with accents ("Café Müller" is always there when N > 1).
// - The customer with custID "AARDVARK", the first in custID order, has exactly 20
//   open invoices (journal 3, not quotes, amount different from amount received),
//   plus paid invoices, a quote and rows of other journals. A few more customers
//   (one per 500) have exactly 20 open invoices too. Needs 24 rows per such customer.
// - One customer in eight has no invoices at all; one in 29 has overpaid and owes
//   nothing (a negative balance). Others have open, partly paid,
//   paid and overpaid invoices, quotes, and rows of journals 1, 2, 4, 5, 6, 7, 8.
// - A balance (ARbalance) equal to the sum of the customer's open amounts, so it is
//   positive, zero or (after an overpayment) negative.
// - nindex: 1, 2, 3, ... but every tenth customer gets 40000 and up; journal rows keep
//   the low 16 bits as a signed number (40000 is stored as -25536).
// - Journal rows in date order, the rows of one customer in the order they were
//   entered.


#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "btrieve/dictionary_writer.h"
#include "btrieve/file_access.h"
#include "btrieve/value.h"
#include "btrieve/writer.h"
#include "data/layouts.h"
#include "tools/tool_platform.h"

using btrieve::DataType;
using btrieve::Status;

namespace {

// ---- deterministic randomness ----------------------------------------------

uint64_t mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Rng {
public:
    explicit Rng(uint64_t seed) : s_(mix(seed)) {}
    uint64_t next() { return mix(s_ += 0x632BE59BD9B4E019ull); }
    uint32_t below(uint32_t n) { return n ? static_cast<uint32_t>(next() % n) : 0; }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <class T, size_t N> const T& pick(const T (&a)[N]) { return a[below(N)]; }
private:
    uint64_t s_;
};

// ---- record fields by name -------------------------------------------------

class Record {
public:
    explicit Record(const layouts::Layout& l) : l_(l), bytes_(l.recordLength, '\0') {}
    // Text longer than the field holds is cut (ZString keeps its ending zero).
    void text(const char* name, const std::string& value) {
        const auto& f = field(name);
        const size_t room = f.type == DataType::ZString ? f.length - 1 : f.length;
        put(f, value.substr(0, room));
    }
    void integer(const char* name, int64_t value) { put(field(name), value); }
    void real(const char* name, double value) { put(field(name), value); }
    void date(const char* name, int year, int month, int day) {
        put(field(name), btrieve::Date{year, month, day});
    }
    const std::string& bytes() const { return bytes_; }
private:
    const btrieve::FieldDef& field(const char* name) const { return *l_.field(name); }
    // The values come from this program, so a refusal is a fault in it.
    void put(const btrieve::FieldDef& f, const btrieve::Value& value) {
        const Status st = btrieve::encodeField(f, value, bytes_);
        if (st != Status::Success) {
            std::fprintf(stderr, "mkcompany: field %s: %s\n", f.name.c_str(), btrieve::statusText(st).c_str());
            std::abort();
        }
    }
    const layouts::Layout& l_;
    std::string bytes_;
};

// ---- word lists (Windows-1252 text) -----------------------------------------

const char* const kFirstWords[] = {
    "Aldridge", "Baker", "Bennett", "Brooks", "Carver", "Chandler", "Delgado", "Ellison",
    "Fairview", "Fletcher", "Garrison", "Hawthorne", "Holloway", "Irving", "Jasper",
    "Kendall", "Langley", "Marlowe", "Mercer", "Northgate", "Oakridge", "Pemberton",
    "Quincy", "Redwood", "Riverside", "Sterling", "Thornton", "Upland", "Vance",
    "Whitfield", "Yardley", "Zimmerman", "Summit", "Pinecrest", "Lakeside", "Harbor",
    "Granite", "Maple", "Cedar", "Silverline",
};
const char* const kSecondWords[] = {
    "Hardware", "Supply Co.", "Plumbing", "Electric", "Bakery", "Auto Repair",
    "Landscaping", "Dental Group", "Law Offices", "Consulting", "Builders", "Florist",
    "Printing", "Realty", "Catering", "Cleaners", "Pharmacy", "Machine Shop", "Outfitters",
    "Veterinary Clinic", "Roofing", "Coffee House", "Books", "Furniture", "Marine",
};
const char* const kAccented[] = {
    "Caf\xE9 M\xFC" "ller", "Bj\xF6rk Design Studio", "Se\xF1or Frog's Cantina",
    "Cr\xE8me de la Cr\xE8me Bakery", "Zo\xEB's Florist", "Fran\xE7ois & Fils",
    "S\xE3o Paulo Imports", "Ni\xF1" "a's Tamales", "Jos\xE9's Auto Body",
    "K\xF6nig Brauhaus",
};
const char* const kGivenNames[] = {
    "Mary", "James", "Linda", "Robert", "Patricia", "Michael", "Susan", "David", "Karen",
    "William", "Nancy", "Thomas", "Lisa", "Daniel", "Betty", "Paul", "Sandra", "Mark",
    "Ren\xE9" "e", "Jos\xE9", "Zo\xEB", "Andr\xE9",
};
const char* const kSurnames[] = {
    "Smith", "Johnson", "Williams", "Brown", "Jones", "Miller", "Davis", "Garc\xED" "a",
    "Wilson", "Anderson", "Taylor", "Thomas", "Moore", "Martin", "Jackson", "White",
    "Harris", "Clark", "Lewis", "Walker", "M\xFCller", "Dubois", "O'Brien",
};
const char* const kStreets[] = {
    "Maple Ave", "Oak St", "Peachtree Rd", "Main St", "Elm St", "Industrial Blvd",
    "Commerce Dr", "Highland Ave", "Lakeview Dr", "Park Pl", "Market St", "Mill Rd",
};
const char* const kSecondLines[] = {"Suite 200", "Unit 4B", "P.O. Box 1187", "Floor 3", "Bldg C"};
struct Place {
    const char* city;
    const char* state;  // empty abroad
    const char* zip;
    const char* country;
    const char* area;   // phone prefix
};
const Place kPlaces[] = {
    {"Atlanta", "GA", "30303", "USA", "(404)"},
    {"Savannah", "GA", "31401", "USA", "(912)"},
    {"Charlotte", "NC", "28202", "USA", "(704)"},
    {"Raleigh", "NC", "27601", "USA", "(919)"},
    {"Nashville", "TN", "37203", "USA", "(615)"},
    {"Memphis", "TN", "38103", "USA", "(901)"},
    {"Columbus", "OH", "43215", "USA", "(614)"},
    {"Denver", "CO", "80202-1234", "USA", "(303)"},
    {"Austin", "TX", "78701", "USA", "(512)"},
    {"Portland", "OR", "97204", "USA", "(503)"},
    {"Toronto", "ON", "M5V 2T6", "Canada", "+1 416"},
    {"London", "", "EC1A 1BB", "United Kingdom", "+44 20"},
    {"M\xFCnchen", "", "80331", "Germany", "+49 89"},
    {"Montr\xE9" "al", "QC", "H2Y 1C6", "Canada", "+1 514"},
};
const char* const kTypes[] = {"RETAIL", "WHOLESAL", "SERVICE", "GOVT", "", "RETAIL"};

std::string lettersOf(const std::string& s, size_t max, bool upper) {
    std::string out;
    for (unsigned char c : s) {
        if (out.size() == max) break;
        if (c >= 'a' && c <= 'z') out += static_cast<char>(upper ? c - 'a' + 'A' : c);
        else if (c >= 'A' && c <= 'Z') out += static_cast<char>(upper ? c : c - 'A' + 'a');
    }
    return out;
}

std::string digits(Rng& r, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + r.below(10));
    return s;
}

// ---- the company plan -------------------------------------------------------

enum Kind : uint8_t { Open, PartlyPaid, Paid, Overpaid, Quote, OtherJournal };

struct Ticket {
    uint32_t customer;
    uint8_t kind;
};

struct Options {
    std::string dir;
    uint32_t customers = 250;
    uint32_t journalRows = 4000;
    std::string security = "none";
    std::string password = "secret";
    uint32_t seed = 1;
    bool v8 = false;  // --format 8: the files in the 8.0 format
};

class Company {
public:
    explicit Company(const Options& o) : o_(o) {}

    void plan();
    std::string customerRecord(uint32_t i) const;
    std::string journalRecord(uint32_t r) const;
    std::vector<std::string> permissRecords() const;

    uint32_t first() const { return first_; }
    // 1, 2, 3, ... with every tenth customer (from the eighth) at 40000 and up; in
    // companies of 40000 customers or more the ordinary numbers skip that range.
    int32_t nindexOf(uint32_t i) const {
        if (i % 10 == 7) return 40000 + static_cast<int32_t>(i - 7);
        if (i + 1 < 40000) return static_cast<int32_t>(i + 1);
        return static_cast<int32_t>(i + 1 + o_.customers);
    }
    // Journal rows planned: as asked, or none in a company without customers.
    uint32_t journalRows() const { return static_cast<uint32_t>(tickets_.size()); }
    uint32_t twentyOpen() const { return static_cast<uint32_t>(special_.size()); }

private:
    struct Customer {
        std::string id, name, contact, phone, fax, email, addr1, addr2, city, state, zip,
            country, type;
        int32_t nindex;
    };
    Customer customer(uint32_t i) const;
    struct Row {
        uint32_t customer;
        uint8_t kind;
        int16_t journal;
        double amount, received;
        int year, month, day;
        uint32_t invoice;
    };
    Row row(uint32_t r) const;

    const Options& o_;
    uint32_t first_ = 0;                 // index of "AARDVARK"
    std::vector<uint32_t> special_;      // customers with exactly 20 open invoices
    std::vector<Ticket> tickets_;        // one per journal row, in date order
    std::vector<int64_t> balanceCents_;  // per customer
    struct Brief {  // what a journal row repeats of its customer
        std::string id, name, state;
        int32_t nindex;
    };
    std::vector<Brief> briefs_;
};

bool noInvoices(uint32_t i, uint32_t first) { return i != first && i % 8 == 5; }


void Company::plan() {
    const uint32_t n = o_.customers;
    first_ = n / 2;
    Rng rng(uint64_t(o_.seed) * 7 + 1);
    tickets_.clear();
    tickets_.reserve(o_.journalRows);

    // Customers with exactly 20 open invoices: "AARDVARK" first, then one in 500.
    special_.clear();
    if (n > 0) special_.push_back(first_);
    for (uint32_t i = 250; i < n; i += 500)
        if (i != first_ && !noInvoices(i, first_)) special_.push_back(i);
    while (!special_.empty() && special_.size() * 24 > o_.journalRows) special_.pop_back();
    std::vector<bool> isSpecial(n, false);
    for (uint32_t c : special_) {
        isSpecial[c] = true;
        for (int k = 0; k < 20; ++k)
            tickets_.push_back({c, static_cast<uint8_t>(k % 7 == 3 ? PartlyPaid : k == 11 ? Overpaid : Open)});
        tickets_.push_back({c, Paid});
        tickets_.push_back({c, Paid});
        tickets_.push_back({c, Quote});
        tickets_.push_back({c, OtherJournal});
    }
    // The rest goes to ordinary customers; those without invoices get other journals.
    // Customers whose 16-bit nindex equals a special customer's would add rows to
    // its open-invoice list: they get no rows.
    std::vector<bool> silent(n, false);
    {
        std::vector<bool> specialLow(65536, false);
        for (uint32_t c : special_) specialLow[nindexOf(c) & 0xFFFF] = true;
        for (uint32_t i = 0; i < n; ++i)
            silent[i] = !isSpecial[i] && specialLow[nindexOf(i) & 0xFFFF];
    }
    while (n > 0 && tickets_.size() < o_.journalRows) {
        uint32_t c = rng.below(n);
        if (silent[c]) continue;
        uint8_t kind;
        if (isSpecial[c]) {
            kind = rng.chance(50) ? Paid : OtherJournal;  // leaves its 20 open as they are
        } else if (noInvoices(c, first_)) {
            kind = OtherJournal;
        } else if (c % 29 == 11) {  // in credit: overpaid, never owing
            uint32_t p = rng.below(100);
            kind = p < 35 ? Overpaid : p < 80 ? Paid : p < 90 ? Quote : OtherJournal;
        } else {
            uint32_t p = rng.below(100);
            kind = p < 25 ? Open : p < 35 ? PartlyPaid : p < 73 ? Paid : p < 76 ? Overpaid
                 : p < 84 ? Quote : OtherJournal;
        }
        tickets_.push_back({c, kind});
    }
    // The shuffled order is the order of entry, and so of dates.
    for (size_t i = tickets_.size(); i > 1; --i) std::swap(tickets_[i - 1], tickets_[rng.below(static_cast<uint32_t>(i))]);

    briefs_.clear();
    briefs_.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        Customer c = customer(i);
        briefs_.push_back({c.id, c.name, c.state, c.nindex});
    }
    balanceCents_.assign(n, 0);
    for (uint32_t r = 0; r < tickets_.size(); ++r) {
        Row w = row(r);
        if (w.journal == 3 && w.kind != Quote)
            balanceCents_[w.customer] += std::llround(w.amount * 100) - std::llround(w.received * 100);
    }
}

Company::Customer Company::customer(uint32_t i) const {
    Rng r(mix(uint64_t(o_.seed) << 32 | i) ^ 0xC0FFEE);
    Customer c;
    if (i == first_) {
        c.name = "Aardvark Supply Co.";
    } else if (i == 1) {
        c.name = "Caf\xE9 M\xFCller";
    } else if (i % 23 == 4) {
        c.name = r.pick(kAccented);
    } else {
        std::string a = r.pick(kFirstWords), b = r.pick(kSecondWords);
        uint32_t form = r.below(10);
        c.name = form == 0 ? a + " & Sons " + b : form == 1 ? a + " Brothers " + b
               : form == 2 ? a + " " + b + " Inc." : a + " " + b;
    }
    c.name = c.name.substr(0, 30);
    if (i == first_) {
        c.id = "AARDVARK";
    } else {
        std::string prefix = lettersOf(c.name, 7, true);
        if (prefix.size() < 3) prefix = "CUST";
        char num[16];
        std::snprintf(num, sizeof num, "%05u", i + 1);
        c.id = prefix + num;
    }
    c.contact = std::string(r.pick(kGivenNames)) + " " + r.pick(kSurnames);
    const Place& pl = r.pick(kPlaces);
    c.city = pl.city;
    c.state = pl.state;
    c.zip = pl.zip;
    c.country = r.chance(70) ? pl.country : "";
    c.addr1 = std::to_string(100 + r.below(9900)) + " " + r.pick(kStreets);
    c.addr2 = r.chance(15) ? r.pick(kSecondLines) : "";
    if (!r.chance(5)) c.phone = std::string(pl.area) + " 555-" + digits(r, 4);
    if (!c.phone.empty() && r.chance(60)) c.fax = std::string(pl.area) + " 555-" + digits(r, 4);
    if (r.chance(80)) {
        std::string who = lettersOf(c.contact, 8, false);
        std::string domain = lettersOf(c.name, 20, false);
        c.email = (r.chance(50) ? who : std::string("info")) + "@" + (domain.empty() ? "example" : domain) +
                  (r.chance(80) ? ".com" : ".net");
    }
    c.type = r.pick(kTypes);
    c.nindex = nindexOf(i);
    return c;
}

std::string Company::customerRecord(uint32_t i) const {
    const Customer c = customer(i);
    Record rec(layouts::customer());
    rec.text("custID", c.id);
    rec.text("type", c.type);
    rec.text("contact", c.contact);
    rec.text("Phone", c.phone);
    rec.text("Fax", c.fax);
    rec.real("ARbalance", static_cast<double>(balanceCents_[i]) / 100.0);
    rec.text("BillName", c.name);
    rec.text("BillAddr1", c.addr1);
    rec.text("BillAddr2", c.addr2);
    rec.text("BillCity", c.city);
    rec.text("BillState", c.state);
    rec.text("BillZip", c.zip);
    rec.text("BillCountry", c.country);
    rec.text("Email", c.email);
    rec.integer("nindex", c.nindex);
    return rec.bytes();
}

Company::Row Company::row(uint32_t r) const {
    Rng g(mix(uint64_t(o_.seed) << 32 | r) ^ 0x10A7);
    const Ticket& t = tickets_[r];
    Row w;
    w.customer = t.customer;
    w.kind = t.kind;
    static const int16_t kOther[] = {1, 2, 4, 5, 6, 7, 8};
    w.journal = t.kind == OtherJournal ? g.pick(kOther) : 3;
    const int64_t cents = 2500 + g.below(500000);
    w.amount = static_cast<double>(cents) / 100.0;
    switch (t.kind) {
    case Open: case Quote: w.received = 0; break;
    case PartlyPaid: w.received = static_cast<double>(cents * (10 + g.below(80)) / 100) / 100.0; break;
    case Paid: w.received = w.amount; break;
    case Overpaid: w.received = static_cast<double>(cents + 500 + g.below(10000)) / 100.0; break;
    default: w.received = g.chance(50) ? w.amount : 0; break;
    }
    // Dates run through 2001 and 2002 in row order.
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    uint32_t day = tickets_.empty() ? 0 : static_cast<uint32_t>(uint64_t(r) * 730 / tickets_.size());
    w.year = 2001 + static_cast<int>(day / 365);
    day %= 365;
    w.month = 1;
    while (day >= static_cast<uint32_t>(kDays[w.month - 1])) day -= kDays[w.month++ - 1];
    w.day = static_cast<int>(day) + 1;
    w.invoice = 10001 + r;
    return w;
}

std::string Company::journalRecord(uint32_t r) const {
    const Row w = row(r);
    const Brief& c = briefs_[w.customer];
    Record rec(layouts::journal());
    rec.text("subindex1", " ");
    rec.integer("trxnumber", static_cast<int16_t>(r % 32000 + 1));
    rec.integer("Period", w.month + (w.year - 2001) * 12);
    rec.integer("Journalid", w.journal);
    rec.text("subindex2", " ");
    rec.text("Journalcode", w.journal == 3 ? "S" : "G");
    rec.integer("nindex", static_cast<int16_t>(c.nindex & 0xFFFF));  // low 16 bits, signed
    rec.text("Custid", c.id);
    rec.date("Date", w.year, w.month, w.day);
    rec.text("ARaccount", w.journal == 3 ? "11000" : "10200");
    rec.integer("nrecord", static_cast<int32_t>(r + 1));
    rec.text("CustName", c.name);
    rec.real("ARamount", w.amount);
    rec.text("InvNumber", w.kind == Quote ? "Q" + std::to_string(w.invoice) : std::to_string(w.invoice));
    rec.text("Posted", w.kind == Quote ? "N" : "Y");
    rec.text("skip3", "");
    if (w.kind == Paid) rec.date("DateCleared", w.year, w.month, w.day);
    rec.text("SalesTaxCode", c.state);
    rec.text("skip115", "");
    rec.integer("Quote", w.kind == Quote ? 1 : 0);
    if (w.kind == Quote) rec.date("GoodThru", w.year + 1, w.month, w.day);
    rec.real("AmountReceived", w.received);
    return rec.bytes();
}

std::vector<std::string> Company::permissRecords() const {
    std::vector<std::pair<std::string, std::string>> users;
    if (o_.security == "vexel-password") {
        users = {{"ADMIN", "NONE"}, {"BOOKKEEPER", "ledger"}, {"VEXEL", o_.password}, {"jsmith", "Spring01"}};
    } else if (o_.security == "lesser-user") {
        users = {{"ADMIN", "NONE"}, {"BOOKKEEPER", "ledger"}, {"vexel", o_.password}, {"jsmith", "Spring01"}};
    } else if (o_.security == "no-vexel") {
        // "Vexel" is neither name the program looks for: names match exactly.
        users = {{"ADMIN", "NONE"}, {"BOOKKEEPER", "ledger"}, {"Vexel", o_.password}, {"jsmith", "Spring01"}};
    }
    std::vector<std::string> out;
    for (const auto& [name, pass] : users) {
        Record rec(layouts::permiss());
        rec.text("UserName", name);
        rec.text("Inactive", "N");
        rec.text("Password", pass);
        out.push_back(rec.bytes());
    }
    return out;
}

// ---- writer options per file ------------------------------------------------

btrieve::KeySegment segmentOn(const layouts::Layout& l, const char* field, uint16_t flags) {
    const auto* f = l.field(field);
    btrieve::KeySegment s;
    s.position = f->offset;
    s.length = static_cast<uint16_t>(f->length);
    s.type = f->type;
    s.flags = flags;
    return s;
}

btrieve::WriterOptions optionsFor(const layouts::Layout& l, uint32_t pageSize, uint32_t seed) {
    btrieve::WriterOptions o;
    o.pageSize = pageSize;
    o.recordLength = l.recordLength;
    o.seed = seed;
    for (const auto& k : l.keys) {
        const bool dups = k.field == "Phone" || k.field == "Fax" || k.field == "BillName" ||
                          (&l == &layouts::journal() && k.field == "nindex");
        o.keys.push_back({{segmentOn(l, k.field.c_str(), dups ? btrieve::keyflag::Duplicates : 0)}});
    }
    return o;
}

// The company's data dictionary (FILE.DDF, FIELD.DDF, INDEX.DDF), as real company
// folders carry one: a table per file (customer, journal, permiss) with the
// layout's field names, types, offsets and sizes, and each key on its field.
Status writeCompanyDictionary(const std::string& dir, bool v8, std::string& failedFile) {
    std::vector<btrieve::DictionaryTableDef> tables;
    uint16_t fieldId = 100;
    const std::pair<const char*, const layouts::Layout*> files[] = {
        {"customer", &layouts::customer()}, {"journal", &layouts::journal()}, {"permiss", &layouts::permiss()}};
    for (const auto& [name, layout] : files) {
        btrieve::DictionaryTableDef t;
        t.id = static_cast<uint16_t>(10 + tables.size());
        t.name = name;
        t.location = layout->fileName;
        std::vector<uint16_t> ids;
        for (const auto& f : layout->fields) {
            btrieve::DictColumn c;
            c.id = fieldId++;
            c.name = f.name;
            c.type = static_cast<uint8_t>(f.type);
            c.offset = f.offset;
            c.size = f.length;
            t.fields.push_back(c);
        }
        for (const auto& k : layout->keys)
            for (const auto& c : t.fields)
                if (c.name == k.field) t.keys.push_back({c.id});
        tables.push_back(std::move(t));
    }
    btrieve::DictionaryWriterOptions options;
    options.version = v8 ? 0x0800 : 0x0610;
    return btrieve::writeDictionary(dir, tables, options, &failedFile);
}

bool exists(const std::string& path) { return btrieve::detail::pathTaken(path); }

// What a failed mkdir or create says, in words a user acts on.
std::string reason(int e) {
    switch (e) {
    case EACCES: case EPERM: return "permission denied";
    case EROFS: return "read-only file system";
    case ENOTDIR: return "part of the path is a file, not a folder";
    case ENOSPC: return "no space left on the device";
    case ENAMETOOLONG: return "the name is too long";
    default: return std::strerror(e);
    }
}

// Creates dir and its parents; on failure, why.
bool makeDirs(const std::string& dir, std::string& why) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && !tools::folderSeparator(dir[i])) continue;
        std::string part = dir.substr(0, i);
        if (tools::makeFolder(part) != 0 && errno != EEXIST) {
            why = reason(errno);
            return false;
        }
    }
    int err = 0;
    if (!tools::isFolder(dir, err)) {
        if (err != 0) {
            why = reason(err);
            return false;
        }
        why = "it exists and is not a folder";
        return false;
    }
    return true;
}

// Whether a new file can be made in dir: a scratch file created and removed again,
// so that a refusal is reported before any company file is begun.
bool canCreateIn(const std::string& dir, std::string& why) {
    if (const int err = tools::probeCreate(dir, ".mkcompany-"); err != 0) {
        why = reason(err);
        return false;
    }
    return true;
}

// The largest counts written: 1,000,000 customers make a customer.dat of about
// 3.2 GB of data pages (one 3072-byte page per record), within the 4 GiB that
// 32-bit record addresses reach; 10,000,000 journal rows fit as easily.
constexpr uint32_t kMaxCustomers = 1000000;
constexpr uint32_t kMaxJournalRows = 10000000;

// A count argument: digits only, at most max. On failure, why (naming the value).
bool parseCount(const char* option, const char* s, uint32_t max, uint32_t& out, std::string& why) {
    if (!s) {
        why = std::string(option) + " needs a number";
        return false;
    }
    const std::string text = s;
    const bool negative = !text.empty() && text[0] == '-';
    const std::string digitsPart = negative ? text.substr(1) : text;
    uint64_t v = 0;
    const char* end = digitsPart.data() + digitsPart.size();
    auto [p, ec] = std::from_chars(digitsPart.data(), end, v);
    if (digitsPart.empty() || p != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        why = std::string(option) + " " + text + ": not a whole number";
        return false;
    }
    if (negative) {
        why = std::string(option) + " " + text + ": cannot be negative";
        return false;
    }
    if (ec == std::errc::result_out_of_range || v > max) {
        why = std::string(option) + " " + text + ": more than " + std::to_string(max) + ", the most mkcompany writes";
        return false;
    }
    out = static_cast<uint32_t>(v);
    return true;
}

// Windows-1252 code points of the bytes 0x80..0x9F; 0 where the code page has none.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E,
    0x0178};

// UTF-8 text (as arguments arrive) as Windows-1252 bytes (as company files hold
// text). Fails on bytes that are not UTF-8 and on a character the code page lacks,
// saying which.
bool toWindows1252(const std::string& utf8, std::string& out, std::string& why) {
    out.clear();
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        char32_t cp = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        bool valid = n > 0 && i + n <= utf8.size();
        for (size_t k = 1; valid && k < n; ++k) {
            const auto c = static_cast<unsigned char>(utf8[i + k]);
            valid = (c & 0xC0) == 0x80;
            cp = cp << 6 | (c & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            why = "not valid UTF-8 text";
            return false;
        }
        int byte = cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF) ? static_cast<int>(cp) : -1;
        for (int h = 0; h < 32 && byte < 0; ++h)
            if (kHigh1252[h] && kHigh1252[h] == cp) byte = 0x80 + h;
        if (byte < 0) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
            why = "the character \"" + utf8.substr(i, n) + "\" (" + code + ") has no Windows-1252 form";
            return false;
        }
        out += static_cast<char>(byte);
        i += n;
    }
    return true;
}

const char kUsage[] =
    "usage: mkcompany DIR [--customers N] [--journal-rows M]\n"
    "                 [--security none|vexel-password|lesser-user|no-vexel]\n"
    "                 [--password TEXT] [--seed S] [--format 6|8]\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int fail(const std::string& file, Status s) {
    std::fprintf(stderr, "mkcompany: cannot write %s: %s\n", file.c_str(), btrieve::statusText(s).c_str());
    return 1;
}

// A wrong argument: what is wrong with it, then the usage.
int badArgument(const std::string& why) {
    std::fprintf(stderr, "mkcompany: %s\n", why.c_str());
    return usage();
}

}  // namespace

const char kHelp[] =
    "\n"
    "Writes a sample Peachtree company (customer.dat, journal.dat, permiss.dat) into\n"
    "DIR, which is created when missing, with the data dictionary that describes them\n"
    "(FILE.DDF, FIELD.DDF, INDEX.DDF). Existing company files are never overwritten.\n"
    "\n"
    "  --customers N       customers to write (default 250)\n"
    "  --journal-rows M    journal rows to write (default 4000)\n"
    "  --security KIND     the Peachtree users in permiss.dat (default none):\n"
    "                        none            no users\n"
    "                        vexel-password  a user VEXEL with a password\n"
    "                        lesser-user     a user vexel (lower case) with a password\n"
    "                        no-vexel        users, but neither VEXEL nor vexel\n"
    "  --password TEXT     the password of VEXEL or vexel, 1 to 16 characters\n"
    "                      (default secret; NONE means no password)\n"
    "  --seed S            the same seed and counts give byte-identical files (default 1)\n"
    "  --format 6|8        the file format: 6 (6.0/6.1, default) or 8 (8.0)\n"
    "  --help              show this text\n"
    "\n"
    "Exit status: 0 success, 1 a file that cannot be written, 2 bad arguments.\n";

namespace {

// Reads the arguments (without the program's name) into o. An exit status when
// there is nothing more to do (the help shown, or an argument wrong), else none.
std::optional<int> readArguments(const std::vector<std::string>& args, Options& o) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    bool haveDir = false;
    std::string why;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const char* v = i + 1 < args.size() ? args[i + 1].c_str() : nullptr;
        if (a == "--customers") {
            if (!parseCount("--customers", v, kMaxCustomers, o.customers, why)) return badArgument(why);
            ++i;
        } else if (a == "--journal-rows") {
            if (!parseCount("--journal-rows", v, kMaxJournalRows, o.journalRows, why)) return badArgument(why);
            ++i;
        } else if (a == "--seed") {
            if (!parseCount("--seed", v, UINT32_MAX, o.seed, why)) return badArgument(why);
            ++i;
        } else if (a == "--format") {
            if (!v || (std::strcmp(v, "6") != 0 && std::strcmp(v, "8") != 0))
                return badArgument("--format needs 6 or 8");
            o.v8 = std::strcmp(v, "8") == 0;
            ++i;
        } else if (a == "--security") {
            if (!v) return badArgument("--security needs one of none, vexel-password, lesser-user, no-vexel");
            o.security = v;
            if (o.security != "none" && o.security != "vexel-password" &&
                o.security != "lesser-user" && o.security != "no-vexel")
                return badArgument("--security " + o.security +
                                   ": not one of none, vexel-password, lesser-user, no-vexel");
            ++i;
        } else if (a == "--password") {
            if (!v) return badArgument("--password needs the password");
            // Company files hold Windows-1252 text; the argument arrives as UTF-8.
            if (!toWindows1252(v, o.password, why)) return badArgument("--password: " + why);
            if (o.password.empty() || o.password.size() > 16)
                return badArgument("--password: a password has 1 to 16 characters, not " +
                                   std::to_string(o.password.size()));
            ++i;
        } else if (!a.empty() && a[0] == '-') {
            return badArgument("unknown option " + a);
        } else if (!haveDir) {
            o.dir = a;
            haveDir = true;
        } else {
            return badArgument("one folder only: " + a + " is a second");
        }
    }
    if (!haveDir || o.dir.empty()) return badArgument("no folder given");
    return std::nullopt;
}

// A folder the company can be written into: no company files there yet, the
// folder made when missing and open to new files. 0, or the exit status.
int prepareFolder(const Options& o) {
    for (const char* name : {"customer.dat", "journal.dat", "permiss.dat", "FILE.DDF", "FIELD.DDF", "INDEX.DDF"})
        if (const std::string f = o.dir + "/" + name; exists(f)) {
            std::fprintf(stderr, "mkcompany: %s already exists; not overwriting a company\n", f.c_str());
            return 1;
        }
    std::string why;
    if (!makeDirs(o.dir, why)) {
        std::fprintf(stderr, "mkcompany: cannot create folder %s: %s\n", o.dir.c_str(), why.c_str());
        return 1;
    }
    if (!canCreateIn(o.dir, why)) {
        std::fprintf(stderr, "mkcompany: cannot write in folder %s: %s\n", o.dir.c_str(), why.c_str());
        return 1;
    }
    return 0;
}

// Writes the three company files and their dictionary; the exit status.
int writeCompany(const Options& o) {
    const std::string cust = o.dir + "/customer.dat", jrnl = o.dir + "/journal.dat",
                      perm = o.dir + "/permiss.dat";
    Company company(o);
    company.plan();

    // Realistic files: stale shadow pages everywhere, a few deleted records each.
    auto co = optionsFor(layouts::customer(), 3072, o.seed * 3 + 1);
    co.deletedRecords = o.customers / 40 + 1;
    co.version = o.v8 ? 0x0800 : 0x0610;
    Status s = btrieve::writeFile(cust, co, [&](const btrieve::RecordEmitter& emit) {
        for (uint32_t i = 0; i < o.customers; ++i)
            if (Status st = emit(company.customerRecord(i)); !btrieve::ok(st)) return st;
        return Status::Success;
    });
    if (!btrieve::ok(s)) return fail(cust, s);

    auto jo = optionsFor(layouts::journal(), 4096, o.seed * 3 + 2);
    jo.deletedRecords = company.journalRows() / 100 + 1;
    if (o.v8) jo.version = 0x0800;
    s = btrieve::writeFile(jrnl, jo, [&](const btrieve::RecordEmitter& emit) {
        for (uint32_t r = 0; r < company.journalRows(); ++r)
            if (Status st = emit(company.journalRecord(r)); !btrieve::ok(st)) return st;
        return Status::Success;
    });
    if (!btrieve::ok(s)) return fail(jrnl, s);

    auto po = optionsFor(layouts::permiss(), 512, o.seed * 3 + 3);
    po.deletedRecords = 1;
    if (o.v8) po.version = 0x0800;
    s = btrieve::writeFile(perm, po, company.permissRecords());
    if (!btrieve::ok(s)) return fail(perm, s);
    std::string failedFile;
    s = writeCompanyDictionary(o.dir, o.v8, failedFile);
    if (!btrieve::ok(s)) return fail(failedFile, s);

    std::printf("%s: %u customers, %u journal rows, security %s\n", o.dir.c_str(), o.customers,
                company.journalRows(), o.security.c_str());
    if (company.twentyOpen() > 0)
        std::printf("first customer by custID: AARDVARK, with 20 open invoices (%u such customers)\n",
                    company.twentyOpen());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::optional<int> done = readArguments(tools::startTool(argc, argv), o)) return *done;
    if (const int status = prepareFolder(o); status != 0) return status;
    return writeCompany(o);
}
