// The hidden data control that reads one company file, and CBtrvdcp1, the thin
// wrapper the main window holds for each instance (m_CustomerData, m_JournalData,
// m_PermissData). The control is configured from its stored properties (the record
// layout of data/layouts.h in stored-state form), opens its file read-only through
// the engine and keeps one current record, ordered by key 0 of the file.
//
// Values cross the wrapper as COleVariant: text stays Windows-1252 bytes
// (std::string), never converted here.
//
// Errors: moves and finds return Btrieve statuses (0 = found). The failures the
// window treats as raised errors throw CBtrvdcpException (a std::runtime_error):
//   - any call other than SetFileName, SetFileMode and Open while the file is not open;
//   - Seek that finds no record;
//   - GetFieldValue with no current record, an unknown field or an undecodable value.
//     "No current record" means none was ever reached since Open. After a move, find
//     or seek that failed with no record current, fields read from a blank record
//     instead (empty text, 0, no date), so a caller that compares a value read back
//     after an unsuccessful find (the security check's "UserName = VEXEL") sees a
//     value that differs rather than an error;
//   - a value of the wrong kind (a Seek value that does not fit the key's type).
//
// The company file stays open while another program (the accounting program) writes
// it: each move, find, seek and count reads the file's current version (see
// btrieve/table.h), so new and changed records show and deleted ones go. A file that
// cannot be read any more (gone, damaged, another program's file in its place) makes
// each call return or raise its status, with the current record kept; once the file
// is readable again, calls go on from that record.
//
// Open refuses, with a status and one sentence for the user (openError), a file that
// is missing, not a regular file (a pipe, device or directory is never opened, so
// nothing can wait on it), unreadable, not a Btrieve file, damaged, or whose record
// length or keys differ from the layout (a file of another program).
#pragma once

#include <QVariantList>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "btrieve/criteria.h"
#include "btrieve/status.h"
#include "btrieve/value.h"
#include "data/layouts.h"
#include "framework/activex.h"
#include "framework/cwnd.h"

namespace btrieve {
class File;
class Table;
}  // namespace btrieve

// Variant kinds, with their automation numbers.
enum VariantKind : unsigned short {
    VT_EMPTY = 0,
    VT_NULL = 1,   // a value that exists but has no content: a DATE field holding no date
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_DATE = 7,   // days since 1899-12-30, the fraction is the time of day
    VT_BSTR = 8,   // Windows-1252 text
    VT_BOOL = 11,
};

// A small automation-style variant. Conversions follow the automation rules closely
// enough for this program: a number from text is parsed strictly (C locale), and a
// conversion that cannot be made throws CBtrvdcpException (status TypeMismatch).
class COleVariant {
public:
    COleVariant() = default;                      // VT_EMPTY
    COleVariant(const char* text);                // VT_BSTR
    COleVariant(std::string text);                // VT_BSTR
    COleVariant(int16_t v);                       // VT_I2
    COleVariant(int32_t v);                       // VT_I4
    COleVariant(double v);                        // VT_R8
    COleVariant(bool v);                          // VT_BOOL
    static COleVariant fromDate(double oleDate);  // VT_DATE
    static COleVariant null();                    // VT_NULL

    VariantKind vt() const { return vt_; }
    bool isEmpty() const { return vt_ == VT_EMPTY; }

    // VT_BSTR as is; numbers in their shortest decimal form; dates as yyyy-mm-dd
    // (with " hh:mm:ss" when there is a time); VT_BOOL as "-1"/"0" (automation's
    // boolean text); VT_EMPTY and VT_NULL as "".
    std::string toString() const;
    double toDouble() const;
    int32_t toLong() const;   // rounds a double to nearest; out of range throws
    // The low 16 bits of toLong(), as a signed number (40000 gives -25536).
    int16_t toShort() const;
    bool toBool() const;
    // The date value, converting text "yyyy-mm-dd" or a number as automation does;
    // nothing for VT_EMPTY, VT_NULL or text that is not a date.
    std::optional<double> toDate() const;
    // The calendar day of toDate(); nothing when there is no date.
    std::optional<btrieve::Date> toCalendarDate() const;

    bool operator==(const COleVariant& other) const;

private:
    VariantKind vt_ = VT_EMPTY;
    std::string text_;
    int64_t integer_ = 0;  // VT_I2, VT_I4, VT_BOOL (-1 true, 0 false)
    double real_ = 0.0;    // VT_R8, VT_DATE
};

// OLE date conversions (days since 1899-12-30).
double oleDateFromDate(const btrieve::Date& d);
btrieve::Date dateFromOleDate(double oleDate);

// One sentence for the user naming a company file (path as the system sees it) and
// what its status says is wrong with it: "The company file /x/customer.dat is damaged
// (status 1003: file is corrupt)." Status 80 (the file kept changing while it was
// read) says that Peachtree is writing the file and to try again.
std::string companyFileErrorText(btrieve::Status status, const std::string& path);

// Whether a move's or find's status says its file could not be read: anything but
// found (0), past either end (EndOfFile) or no such record (KeyNotFound).
bool IsReadFailure(short status);

// The error the data control raises.
class CBtrvdcpException : public std::runtime_error {
public:
    CBtrvdcpException(btrieve::Status status, std::string fileName, const std::string& what);
    btrieve::Status status() const { return status_; }
    const std::string& fileName() const { return fileName_; }
    // What failed, without the file name and the status.
    const std::string& detail() const { return detail_; }

private:
    btrieve::Status status_;
    std::string fileName_;
    std::string detail_;
};

// Dispatch ids of the control's automation interface.
namespace btrvdispid {
constexpr int FileName = 1, FileMode = 41, RecordCount = 45, MoveNext = 82, MovePrevious = 83,
              Open = 85, FindFirst = 87, FindNext = 88, Seek = 116, FieldValue = 168;
}

// The hidden control widget. It raises no events, but declares axEvent as every hosted
// control does.
class BtrvDataControl : public QWidget {
    Q_OBJECT
public:
    // Configured from stored properties (layouts::toStoredState form). A stored state that
    // does not parse leaves the control unconfigured: Open then returns that status.
    explicit BtrvDataControl(const framework::PropertyMap& properties, QWidget* parent = nullptr);
    ~BtrvDataControl() override;

    void setFileName(const std::string& path);
    void setFileMode(long mode);
    short open();
    short moveNext();
    short movePrevious();
    short findFirst(const std::string& criteria);
    short findNext(const std::string& criteria);
    void seek(const std::string& comparison, const COleVariant* keyValues, int count);
    COleVariant getFieldValue(const COleVariant& fieldName);
    long getRecordCount();

    const std::string& fileName() const { return fileName_; }
    long fileMode() const { return fileMode_; }
    bool isOpen() const { return table_ != nullptr; }
    const layouts::Layout& layout() const { return layout_; }
    // Why the last Open failed, one sentence naming the file; empty after a success.
    const std::string& openError() const { return openError_; }
    // The sentence for a status a call on the open file returned or raised, worded as
    // Open words it: "The company file /x/customer.dat was not found."
    std::string errorText(btrieve::Status status) const;
    // The first status since Open by which a move or find found the file damaged
    // (a page that cannot be read); Success while none did. Moves return their status
    // to callers that may not look at it; this keeps the damage from passing unseen.
    btrieve::Status fault() const { return fault_; }

signals:
    void axEvent(int dispid, const QVariantList& args);

private:
    [[noreturn]] void raise(btrieve::Status status, const std::string& what) const;
    void requireOpen(const char* operation) const;
    btrieve::Status followed(btrieve::Status st);
    btrieve::Status takeUpFile();
    short positioned(btrieve::Status st);
    short refuse(btrieve::Status status, std::string message);
    btrieve::Status criteriaFor(const std::string& text, const btrieve::Criteria*& out);
    std::string encodeKey(const COleVariant* keyValues, int count) const;

    layouts::Layout layout_;
    btrieve::Status configStatus_ = btrieve::Status::Success;
    std::string fileName_;
    long fileMode_ = 0;
    std::unique_ptr<btrieve::Table> table_;
    // The table's generation last seen: it grows each time the table takes up a new
    // version of the file written by another program.
    uint64_t generation_ = 0;
    // Truncated or LayoutMismatch while the version read is one Open would refuse (cut
    // short, or holding other records: then how they differ from the layout).
    btrieve::Status refused_ = btrieve::Status::Success;
    std::string foreignDifferences_;
    // A move, find or seek failed with no record current: fields then read from a blank
    // record (empty text, zero, no date), as from a cleared record buffer.
    bool blank_ = false;
    std::string openError_;
    btrieve::Status fault_ = btrieve::Status::Success;
    std::optional<long> recordCount_;
    std::string lastCriteriaText_;
    std::unique_ptr<btrieve::Criteria> lastCriteria_;
    btrieve::Status lastCriteriaStatus_ = btrieve::Status::Success;
};

// Registers the control class "BtrvDataControl" with the framework (at program start).
void RegisterDataControl();

// The wrapper the main window holds; DDX_Control attaches it to the control's widget.
// Each method is one call into the control; a wrapper that is not attached to a data
// control throws CBtrvdcpException (status FileNotOpen).
class CBtrvdcp1 : public framework::CWnd {
public:
    void SetFileName(const std::string& fileName);
    void SetFileMode(long mode);
    short Open();
    short MoveNext();
    short MovePrevious();
    short FindFirst(const std::string& criteria);
    short FindNext(const std::string& criteria);
    void Seek(const std::string& comparison, const COleVariant& k1, const COleVariant& k2,
              const COleVariant& k3, const COleVariant& k4, const COleVariant& k5,
              const COleVariant& k6, const COleVariant& k7, const COleVariant& k8,
              const COleVariant& k9);
    COleVariant GetFieldValue(const COleVariant& fieldName);
    long GetRecordCount();

    BtrvDataControl* control() const;

private:
    BtrvDataControl& require() const;
};

// Returns status, or raises it as data's error when IsReadFailure calls it a failure,
// so that a status the caller does not otherwise look at is not taken for an answer.
short RequireRead(const CBtrvdcp1& data, short status, const char* operation);
