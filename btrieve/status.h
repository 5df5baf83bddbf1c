// Status codes of the engine. The numbers below 1000 are the Btrieve engine's own
// codes, reused so that a status printed by our tools means what a Btrieve user
// expects; 1000 and above are conditions only an engine-free reader meets
// (a file it does not understand, criteria it cannot parse).
#pragma once

#include <string>

namespace btrieve {

enum class Status : int {
    Success = 0,
    InvalidOperation = 1,
    IoError = 2,
    FileNotOpen = 3,
    KeyNotFound = 4,
    InvalidKeyNumber = 6,
    InvalidPositioning = 8,  // no current record for a relative move
    EndOfFile = 9,           // moved past either end
    NameTooLong = 11,        // Btrieve's "invalid file name": here, a path the system finds too long
    FileNotFound = 12,
    NotBtrieveFile = 30,
    InvalidRecordAddress = 43,
    AccessDenied = 46,       // the system refused: permission denied
    InvalidOwner = 51,
    VariablePageError = 54,
    IncompleteIndex = 56,
    Conflict = 80,           // the file kept changing under a read: no whole version of it could be read

    UnsupportedVersion = 1001,   // a Btrieve file of a version the reader does not know
    Truncated = 1002,            // the file ends before a structure it needs
    Corrupt = 1003,              // a structure that contradicts itself or the file
    UnsupportedEncryption = 1004,
    UnsupportedLayout = 1005,    // e.g. a page size or key type the reader does not know
    CriteriaSyntax = 1010,
    UnknownField = 1011,
    TypeMismatch = 1012,
    LayoutMismatch = 1013,       // a layout's key definition disagrees with the file's
    // The path names something that is not a file, refused before a byte is read.
    IsDirectory = 1020,
    IsPipe = 1021,
    IsSocket = 1022,
    IsDevice = 1023,             // character or block device
    LinkLoop = 1024,             // symbolic links that lead round in a circle
};

// Short English description, e.g. "not a Btrieve file".
const char* describe(Status s);
// "status 30 (not a Btrieve file)"
std::string statusText(Status s);

inline bool ok(Status s) { return s == Status::Success; }

}  // namespace btrieve
