#include "data/CBtrvdcp1.h"


#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

#include <cerrno>

#include "btrieve/file.h"
#include "btrieve/table.h"
#include "platform/platform.h"

namespace {

using btrieve::Status;

// Days from 1970-01-01 to a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

btrieve::Date civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return btrieve::Date{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

const int64_t kOleEpoch = daysFromCivil(1899, 12, 30);

[[noreturn]] void typeMismatch(const std::string& what) {
    throw CBtrvdcpException(Status::TypeMismatch, "", what);
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<double> parseNumber(std::string_view s) {
    s = trimBlanks(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

bool validDate(int y, int m, int d) {
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= days[m - 1] + (m == 2 && leap ? 1 : 0);
}

// "yyyy-mm-dd" or "m/d/yyyy".
std::optional<btrieve::Date> parseDateText(std::string_view s) {
    s = trimBlanks(s);
    int a = 0, b = 0, c = 0;
    char s1 = 0, s2 = 0;
    char tail = 0;
    const std::string text(s);
    if (std::sscanf(text.c_str(), "%d%c%d%c%d%c", &a, &s1, &b, &s2, &c, &tail) != 5) return std::nullopt;
    btrieve::Date d;
    if (s1 == '-' && s2 == '-') d = {a, b, c};
    else if (s1 == '/' && s2 == '/') d = {c, a, b};
    else return std::nullopt;
    if (!validDate(d.year, d.month, d.day)) return std::nullopt;
    return d;
}

std::string shortest(double v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// A status that means the file could not be read as it should: a move or find that
// ends with one found damage, not the end of the records.
bool isDamage(Status s) {
    switch (s) {
    case Status::IoError:
    case Status::InvalidRecordAddress:
    case Status::VariablePageError:
    case Status::IncompleteIndex:
    case Status::Truncated:
    case Status::Corrupt: return true;
    default: return false;
    }
}

// The sentence for a company file the engine would not open because of where it
// points: not found (a missing folder is named as such: all three files are missing
// then, and one sentence about the folder says more than three about its files),
// not a file at all, a link loop or a name too long. Empty for other statuses.
std::string pathErrorText(Status status, const std::string& path) {
    const std::string file = "The company file " + path;
    switch (status) {
    case Status::FileNotFound: {
        const size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, std::max<size_t>(slash, 1));
        if (!platform::isFolder(folder))
            return "The company folder " + folder + " was not found.";
        return {};
    }
    case Status::IsDirectory: return file + " cannot be read: it is a directory, not a file.";
    case Status::IsPipe: return file + " cannot be read: it is a named pipe, not a file.";
    case Status::IsSocket: return file + " cannot be read: it is a socket, not a file.";
    case Status::IsDevice: return file + " cannot be read: it is a device, not a file.";
    case Status::LinkLoop: return file + " cannot be read: its symbolic links form a loop.";
    case Status::NameTooLong: return file + " cannot be read: its name is too long.";
    default: return {};
    }
}

std::string mismatchText(const std::string& path, const std::string& differences) {
    return "The company file " + path + " does not hold the records this program expects: " + differences + ".";
}

COleVariant toVariant(const btrieve::Value& v) {
    struct Visitor {
        COleVariant operator()(std::monostate) const { return {}; }
        COleVariant operator()(const std::string& s) const { return COleVariant(s); }
        COleVariant operator()(int64_t i) const {
            if (i >= std::numeric_limits<int32_t>::min() && i <= std::numeric_limits<int32_t>::max())
                return COleVariant(static_cast<int32_t>(i));
            return COleVariant(static_cast<double>(i));
        }
        COleVariant operator()(uint64_t u) const {
            if (u <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
                return COleVariant(static_cast<int32_t>(u));
            return COleVariant(static_cast<double>(u));
        }
        COleVariant operator()(double d) const { return COleVariant(d); }
        COleVariant operator()(bool b) const { return COleVariant(b); }
        COleVariant operator()(const btrieve::Date& d) const {
            if (!validDate(d.year, d.month, d.day)) return COleVariant::null();
            return COleVariant::fromDate(oleDateFromDate(d));
        }
        COleVariant operator()(btrieve::NoDate) const { return COleVariant::null(); }
        COleVariant operator()(const btrieve::Time& t) const {
            const double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second + t.hundredths / 100.0;
            return COleVariant::fromDate(seconds / 86400.0);
        }
    };
    return std::visit(Visitor{}, v);
}

}  // namespace

// ---- COleVariant -----------------------------------------------------------------

COleVariant::COleVariant(const char* text) : vt_(VT_BSTR), text_(text ? text : "") {}
COleVariant::COleVariant(std::string text) : vt_(VT_BSTR), text_(std::move(text)) {}
COleVariant::COleVariant(int16_t v) : vt_(VT_I2), integer_(v) {}
COleVariant::COleVariant(int32_t v) : vt_(VT_I4), integer_(v) {}
COleVariant::COleVariant(double v) : vt_(VT_R8), real_(v) {}
COleVariant::COleVariant(bool v) : vt_(VT_BOOL), integer_(v ? -1 : 0) {}

COleVariant COleVariant::fromDate(double oleDate) {
    COleVariant v;
    v.vt_ = VT_DATE;
    v.real_ = oleDate;
    return v;
}

COleVariant COleVariant::null() {
    COleVariant v;
    v.vt_ = VT_NULL;
    return v;
}

std::string COleVariant::toString() const {
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL: return {};
    case VT_BSTR: return text_;
    case VT_I2:
    case VT_I4:
    case VT_BOOL: return std::to_string(integer_);
    case VT_R8: return shortest(real_);
    case VT_DATE: {
        const double days = std::floor(real_);
        const btrieve::Date d = dateFromOleDate(real_);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
        std::string out = buf;
        const long seconds = std::lround((real_ - days) * 86400.0);
        if (seconds > 0 && seconds < 86400) {
            std::snprintf(buf, sizeof buf, " %02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                          seconds % 60);
            out += buf;
        }
        return out;
    }
    }
    return {};
}

double COleVariant::toDouble() const {
    switch (vt_) {
    case VT_EMPTY: return 0.0;
    case VT_NULL: typeMismatch("a null value has no number");
    case VT_BSTR: {
        auto n = parseNumber(text_);
        if (!n) typeMismatch("\"" + text_ + "\" is not a number");
        return *n;
    }
    case VT_I2:
    case VT_I4:
    case VT_BOOL: return static_cast<double>(integer_);
    case VT_R8:
    case VT_DATE: return real_;
    }
    return 0.0;
}

int32_t COleVariant::toLong() const {
    if (vt_ == VT_I2 || vt_ == VT_I4 || vt_ == VT_BOOL) return static_cast<int32_t>(integer_);
    // Automation rounds half to even, which is the default rounding mode of nearbyint.
    const double r = std::nearbyint(toDouble());
    if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
        typeMismatch(toString() + " does not fit a 32-bit integer");
    return static_cast<int32_t>(r);
}

int16_t COleVariant::toShort() const {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(toLong()) & 0xFFFFu));
}

bool COleVariant::toBool() const {
    if (vt_ == VT_BSTR) {
        if (equalsIgnoreCase(trimBlanks(text_), "true")) return true;
        if (equalsIgnoreCase(trimBlanks(text_), "false")) return false;
    }
    return toDouble() != 0.0;
}

std::optional<double> COleVariant::toDate() const {
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL: return std::nullopt;
    case VT_BSTR: {
        if (auto d = parseDateText(text_)) return oleDateFromDate(*d);
        return std::nullopt;
    }
    case VT_DATE:
    case VT_R8: return real_;
    case VT_I2:
    case VT_I4:
    case VT_BOOL: return static_cast<double>(integer_);
    }
    return std::nullopt;
}

std::optional<btrieve::Date> COleVariant::toCalendarDate() const {
    auto d = toDate();
    if (!d || !std::isfinite(*d) || std::fabs(*d) > 3e6) return std::nullopt;
    return dateFromOleDate(*d);
}

bool COleVariant::operator==(const COleVariant& o) const {
    if (vt_ != o.vt_) return false;
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_BSTR: return text_ == o.text_;
    case VT_R8:
    case VT_DATE: return real_ == o.real_;
    default: return integer_ == o.integer_;
    }
}

double oleDateFromDate(const btrieve::Date& d) {
    return static_cast<double>(daysFromCivil(d.year, static_cast<unsigned>(d.month),
                                             static_cast<unsigned>(d.day)) - kOleEpoch);
}

btrieve::Date dateFromOleDate(double oleDate) {
    return civilFromDays(static_cast<int64_t>(std::floor(oleDate)) + kOleEpoch);
}

std::string companyFileErrorText(Status status, const std::string& path) {
    const std::string file = "The company file " + path;
    const std::string code = " (status " + std::to_string(static_cast<int>(status)) + ": " +
                             btrieve::describe(status) + ").";
    switch (status) {
    case Status::FileNotFound: return file + " was not found.";
    case Status::AccessDenied: return file + " cannot be read: permission denied.";
    case Status::NotBtrieveFile: return file + " is not a Btrieve file.";
    case Status::LayoutMismatch: return file + " does not hold the records this program expects.";
    case Status::UnsupportedVersion:
    case Status::UnsupportedEncryption:
    case Status::UnsupportedLayout: return file + " is a Btrieve file this program cannot read" + code;
    case Status::Conflict: return file + " is being written by Peachtree" + code + " Try again in a moment.";
    default: break;
    }
    if (isDamage(status)) return file + " is damaged" + code;
    return file + " cannot be read" + code;
}

bool IsReadFailure(short status) {
    const auto st = static_cast<Status>(status);
    return st != Status::Success && st != Status::EndOfFile && st != Status::KeyNotFound;
}

CBtrvdcpException::CBtrvdcpException(btrieve::Status status, std::string fileName,
                                     const std::string& what)
    : std::runtime_error((fileName.empty() ? std::string() : fileName + ": ") + what + ": " +
                         statusText(status)),
      status_(status),
      fileName_(std::move(fileName)),
      detail_(what) {}

// ---- BtrvDataControl ---------------------------------------------------------------

BtrvDataControl::BtrvDataControl(const framework::PropertyMap& properties, QWidget* parent)
    : QWidget(parent) {
    setVisible(false);
    configStatus_ = layouts::fromStoredState(properties, layout_);
    fileName_ = layout_.fileName;
}

BtrvDataControl::~BtrvDataControl() = default;

void BtrvDataControl::raise(Status status, const std::string& what) const {
    throw CBtrvdcpException(status, fileName_, what);
}

void BtrvDataControl::requireOpen(const char* operation) const {
    if (!table_) raise(Status::FileNotOpen, operation);
}

// After a call that took up a new version of the file (another program wrote it):
// the count kept goes, and a version that Open would refuse is refused while it
// stands there: one cut short (a copy that did not finish), or one that holds other
// records (another file put in its place), since nothing read through this layout
// would mean what the window shows it as. The company's file put back is read again.
Status BtrvDataControl::followed(Status st) {
    if (table_->generation() != generation_) {
        generation_ = table_->generation();
        recordCount_.reset();
        const btrieve::FileInfo& info = table_->info();
        const auto* file = dynamic_cast<const btrieve::File*>(table_->source().get());
        foreignDifferences_ = layouts::fileDifferences(layout_, info);
        if (file && info.pageCount * info.pageSize > file->fileSize()) refused_ = Status::Truncated;
        else refused_ = foreignDifferences_.empty() ? Status::Success : Status::LayoutMismatch;
        if (btrieve::ok(fault_)) fault_ = refused_;
    }
    return btrieve::ok(refused_) ? st : refused_;
}

// Before a call: takes up the file's current version, so that a version refused is
// refused before the call moves on it (the current record stays where it stood, to
// be found again once the company's file is back).
Status BtrvDataControl::takeUpFile() { return followed(table_->follow()); }

short BtrvDataControl::positioned(Status st) {
    st = followed(st);
    blank_ = !btrieve::ok(st) && !table_->hasCurrent();
    if (btrieve::ok(fault_) && isDamage(st)) fault_ = st;
    return static_cast<short>(st);
}

short BtrvDataControl::refuse(Status status, std::string message) {
    openError_ = std::move(message);
    return static_cast<short>(status);
}

void BtrvDataControl::setFileName(const std::string& path) { fileName_ = path; }

// The file is always opened read-only, whatever the mode asks for: the program never
// writes company data.
void BtrvDataControl::setFileMode(long mode) { fileMode_ = mode; }

short BtrvDataControl::open() {
    table_.reset();
    blank_ = false;
    generation_ = 0;
    refused_ = Status::Success;
    foreignDifferences_.clear();
    recordCount_.reset();
    lastCriteria_.reset();
    lastCriteriaText_.clear();
    openError_.clear();
    fault_ = Status::Success;
    const std::string path = platform::mapWindowsPath(fileName_);
    if (!btrieve::ok(configStatus_))
        return refuse(configStatus_, "The record layout stored for the company file " + path + " is not valid.");

    // The engine refuses, without waiting, anything that is not a regular file (a
    // named pipe would otherwise wait for a writer that may never come).
    std::unique_ptr<btrieve::File> file;
    btrieve::OpenOptions options;
    options.ownerName = layout_.ownerName;
    const Status opened = btrieve::File::open(path, file, options);
    if (!btrieve::ok(opened)) {
        std::string text = pathErrorText(opened, path);
        return refuse(opened, text.empty() ? companyFileErrorText(opened, path) : std::move(text));
    }

    // A file shorter than the pages its header counts was cut off (a copy that did not
    // finish, a full disk): refused before a page of it is trusted.
    const btrieve::FileInfo& info = file->info();
    if (info.pageCount * info.pageSize > file->fileSize())
        return refuse(Status::Truncated, companyFileErrorText(Status::Truncated, path));
    // A file whose records or keys are not those of the layout belongs to another
    // program (or is another company file under this name): nothing read from it
    // through this layout would mean what the window shows it as.
    if (const std::string diff = layouts::fileDifferences(layout_, info); !diff.empty())
        return refuse(Status::LayoutMismatch, mismatchText(path, diff));

    auto table = std::make_unique<btrieve::Table>(std::shared_ptr<const btrieve::File>(std::move(file)));
    if (!info.keys.empty()) {
        const Status ks = table->setActiveKey(info.keys.front().number);
        if (!btrieve::ok(ks)) {
            return refuse(ks, companyFileErrorText(ks, path));
        }
    }
    table_ = std::move(table);
    return 0;
}

std::string BtrvDataControl::errorText(Status status) const {
    const std::string path = platform::mapWindowsPath(fileName_);
    if (status == Status::LayoutMismatch && !foreignDifferences_.empty())
        return mismatchText(path, foreignDifferences_);
    std::string text = pathErrorText(status, path);
    return text.empty() ? companyFileErrorText(status, path) : text;
}

short BtrvDataControl::moveNext() {
    requireOpen("MoveNext");
    if (const Status st = takeUpFile(); !btrieve::ok(st)) return positioned(st);
    return positioned(table_->moveNext());
}

short BtrvDataControl::movePrevious() {
    requireOpen("MovePrevious");
    if (const Status st = takeUpFile(); !btrieve::ok(st)) return positioned(st);
    return positioned(table_->movePrevious());
}

Status BtrvDataControl::criteriaFor(const std::string& text, const btrieve::Criteria*& out) {
    if (!lastCriteria_ || text != lastCriteriaText_) {
        auto parsed = std::make_unique<btrieve::Criteria>();
        lastCriteriaStatus_ = btrieve::Criteria::parse(text, layout_.fields, *parsed);
        lastCriteria_ = std::move(parsed);
        lastCriteriaText_ = text;
    }
    out = lastCriteria_.get();
    return lastCriteriaStatus_;
}

short BtrvDataControl::findFirst(const std::string& criteria) {
    requireOpen("FindFirst");
    const btrieve::Criteria* c = nullptr;
    Status st = takeUpFile();
    if (btrieve::ok(st)) st = criteriaFor(criteria, c);
    if (!btrieve::ok(st)) return positioned(st);
    return positioned(table_->findFirst(*c));
}

short BtrvDataControl::findNext(const std::string& criteria) {
    requireOpen("FindNext");
    const btrieve::Criteria* c = nullptr;
    Status st = takeUpFile();
    if (btrieve::ok(st)) st = criteriaFor(criteria, c);
    if (!btrieve::ok(st)) return positioned(st);
    return positioned(table_->findNext(*c));
}

namespace {

// A sought value as a value of its key segment's type: text cut to the room the
// segment has (LSTRING and ZSTRING keep a byte for the length or the ending zero),
// whole numbers rounded, dates as calendar dates. Failures carry no file name: the
// caller names the file.
btrieve::Value toKeyValue(const btrieve::KeySegment& seg, const COleVariant& v) {
    using btrieve::DataType;
    switch (seg.type) {
    case DataType::String:
    case DataType::OldString:
    case DataType::ZString:
    case DataType::LString: {
        std::string text = v.toString();
        const bool reserved = seg.type == DataType::LString || seg.type == DataType::ZString;
        const size_t room = seg.length > 0 && reserved ? seg.length - 1u : seg.length;
        if (text.size() > room) text.resize(room);
        return text;
    }
    case DataType::Integer:
    case DataType::AutoIncrement:
    case DataType::UnsignedBinary:
    case DataType::OldBinary: return std::nearbyint(v.toDouble());
    case DataType::Float:
    case DataType::BFloat:
    case DataType::Money:
    case DataType::Decimal:
    case DataType::Numeric: return v.toDouble();
    case DataType::Date: {
        auto d = v.toCalendarDate();
        if (!d) throw CBtrvdcpException(Status::TypeMismatch, "", "not a date");
        return *d;
    }
    case DataType::Logical: return v.toBool();
    default: throw CBtrvdcpException(Status::UnsupportedLayout, "", "key type not supported");
    }
}

}  // namespace

// Key bytes in the record's own encoding for the active key, one segment per given
// value; the values stop at the first empty one, and the table pads what is missing.
std::string BtrvDataControl::encodeKey(const COleVariant* values, int count) const {
    const btrieve::FileInfo& info = table_->info();
    const btrieve::KeySpec* key = nullptr;
    for (const auto& k : info.keys)
        if (k.number == table_->activeKey()) key = &k;
    if (!key) raise(Status::InvalidKeyNumber, "Seek");

    std::string out;
    const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), key->segments.size());
    for (size_t i = 0; i < n && !values[i].isEmpty(); ++i) {
        const btrieve::KeySegment& seg = key->segments[i];
        const COleVariant& v = values[i];
        const bool last = i + 1 == n || values[i + 1].isEmpty();
        try {
            const btrieve::Value value = toKeyValue(seg, v);
            // A last text segment other than LSTRING is a prefix of the key: its text alone.
            if (const auto* text = std::get_if<std::string>(&value);
                text && last && seg.type != btrieve::DataType::LString) {
                out += *text;
                continue;
            }
            // The segment's bytes, as the field they index is stored in a record.
            std::string bytes(seg.length, '\0');
            const Status st = btrieve::encodeField({"", seg.type, 0, seg.length}, value, bytes);
            if (st == Status::TypeMismatch) raise(st, "Seek: " + v.toString() + " does not fit the key");
            if (!btrieve::ok(st)) raise(st, "Seek");
            out += bytes;
        } catch (const CBtrvdcpException& e) {
            if (!e.fileName().empty()) throw;
            raise(e.status(), "Seek: " + e.detail());
        }
    }
    return out;
}

// Comparisons, on the active key: "=" the first record whose key equals the value,
// ">=" the first at or after it, ">" the first after it, "<=" the last at or before
// it, "<" the last before it. The record found becomes current; when there is none,
// the current record stays and KeyNotFound is raised.
void BtrvDataControl::seek(const std::string& comparison, const COleVariant* keyValues, int count) {
    requireOpen("Seek");
    const std::string op(trimBlanks(comparison));
    btrieve::SeekOp seekOp;
    if (op == "=" || op == "==") seekOp = btrieve::SeekOp::Eq;
    else if (op == ">=" || op == "=>") seekOp = btrieve::SeekOp::Ge;
    else if (op == ">") seekOp = btrieve::SeekOp::Gt;
    else if (op == "<=" || op == "=<") seekOp = btrieve::SeekOp::Le;
    else if (op == "<") seekOp = btrieve::SeekOp::Lt;
    else raise(Status::InvalidOperation, "Seek: unknown comparison \"" + comparison + "\"");

    const std::string what = "Seek " + op + " \"" + (count > 0 ? keyValues[0].toString() : "") + "\"";
    if (const Status st = takeUpFile(); !btrieve::ok(st)) raise(static_cast<Status>(positioned(st)), what);
    const std::string key = encodeKey(keyValues, count);
    const Status st = static_cast<Status>(positioned(table_->seek(seekOp, key)));
    if (!btrieve::ok(st)) raise(st, what);
}

COleVariant BtrvDataControl::getFieldValue(const COleVariant& fieldName) {
    requireOpen("GetFieldValue");
    const btrieve::FieldDef* field = nullptr;
    if (fieldName.vt() == VT_I2 || fieldName.vt() == VT_I4) {
        const int32_t i = fieldName.toLong();
        if (i >= 0 && static_cast<size_t>(i) < layout_.fields.size()) field = &layout_.fields[i];
    } else {
        const std::string name = fieldName.toString();
        for (const auto& f : layout_.fields)
            if (equalsIgnoreCase(f.name, name)) {
                field = &f;
                break;
            }
    }
    if (!field) raise(Status::UnknownField, "GetFieldValue(\"" + fieldName.toString() + "\")");
    // Nothing of a version refused is read (a record of another program's file means
    // nothing through this layout).
    if (!btrieve::ok(refused_)) raise(refused_, "GetFieldValue(\"" + field->name + "\")");
    if (!table_->hasCurrent() && !blank_)
        raise(Status::InvalidPositioning, "GetFieldValue(\"" + field->name + "\")");
    btrieve::Value value;
    const std::string blankRecord = table_->hasCurrent() ? std::string() : std::string(layout_.recordLength, '\0');
    const Status st = btrieve::decodeField(*field, table_->hasCurrent() ? table_->currentRecord() : blankRecord, value);
    if (!btrieve::ok(st)) raise(st, "GetFieldValue(\"" + field->name + "\")");
    return toVariant(value);
}

// The number of live records, counted once per version of the file (the header's
// count is not trusted to agree with the pages).
long BtrvDataControl::getRecordCount() {
    requireOpen("GetRecordCount");
    Status st = takeUpFile();
    if (btrieve::ok(st) && !recordCount_) {
        uint64_t n = 0;
        st = followed(table_->countRecords(n));
        if (btrieve::ok(st)) recordCount_ = static_cast<long>(n);
    }
    if (!btrieve::ok(st)) raise(st, "GetRecordCount");
    return *recordCount_;
}

void RegisterDataControl() {
    framework::registerActiveXClass(
        "BtrvDataControl", [](const framework::ActiveXCreateInfo& info, QWidget* parent) -> QWidget* {
            // Owned by parent (the dialog), as every template control is.
            return new BtrvDataControl(info.properties, parent);
        });
}

// ---- CBtrvdcp1 --------------------------------------------------------------------

BtrvDataControl* CBtrvdcp1::control() const { return qobject_cast<BtrvDataControl*>(GetWidget()); }

BtrvDataControl& CBtrvdcp1::require() const {
    BtrvDataControl* c = control();
    if (!c) throw CBtrvdcpException(Status::FileNotOpen, "", "the data control is not attached");
    return *c;
}

void CBtrvdcp1::SetFileName(const std::string& fileName) { require().setFileName(fileName); }
void CBtrvdcp1::SetFileMode(long mode) { require().setFileMode(mode); }
short CBtrvdcp1::Open() { return require().open(); }
short CBtrvdcp1::MoveNext() { return require().moveNext(); }
short CBtrvdcp1::MovePrevious() { return require().movePrevious(); }
short CBtrvdcp1::FindFirst(const std::string& criteria) { return require().findFirst(criteria); }
short CBtrvdcp1::FindNext(const std::string& criteria) { return require().findNext(criteria); }

void CBtrvdcp1::Seek(const std::string& comparison, const COleVariant& k1, const COleVariant& k2,
                     const COleVariant& k3, const COleVariant& k4, const COleVariant& k5,
                     const COleVariant& k6, const COleVariant& k7, const COleVariant& k8,
                     const COleVariant& k9) {
    const COleVariant values[9] = {k1, k2, k3, k4, k5, k6, k7, k8, k9};
    require().seek(comparison, values, 9);
}

COleVariant CBtrvdcp1::GetFieldValue(const COleVariant& fieldName) {
    return require().getFieldValue(fieldName);
}

long CBtrvdcp1::GetRecordCount() { return require().getRecordCount(); }

short RequireRead(const CBtrvdcp1& data, short status, const char* operation) {
    if (!IsReadFailure(status)) return status;
    const BtrvDataControl* c = data.control();
    throw CBtrvdcpException(static_cast<Status>(status), c ? c->fileName() : std::string(), operation);
}
