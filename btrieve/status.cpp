#include "btrieve/status.h"

namespace btrieve {

const char* describe(Status s) {
    switch (s) {
    case Status::Success: return "success";
    case Status::InvalidOperation: return "invalid operation";
    case Status::IoError: return "I/O error";
    case Status::FileNotOpen: return "file not open";
    case Status::KeyNotFound: return "key value not found";
    case Status::InvalidKeyNumber: return "invalid key number";
    case Status::InvalidPositioning: return "no current record";
    case Status::EndOfFile: return "end of file";
    case Status::NameTooLong: return "file name too long";
    case Status::FileNotFound: return "file not found";
    case Status::NotBtrieveFile: return "not a Btrieve file";
    case Status::InvalidRecordAddress: return "invalid record address";
    case Status::AccessDenied: return "permission denied";
    case Status::InvalidOwner: return "invalid owner name";
    case Status::VariablePageError: return "corrupt variable-length record";
    case Status::IncompleteIndex: return "incomplete index";
    case Status::Conflict: return "the file kept changing while it was read";
    case Status::UnsupportedVersion: return "unsupported Btrieve version";
    case Status::Truncated: return "file is truncated";
    case Status::Corrupt: return "file is corrupt";
    case Status::UnsupportedEncryption: return "unsupported encryption";
    case Status::UnsupportedLayout: return "unsupported file layout";
    case Status::CriteriaSyntax: return "malformed criteria";
    case Status::UnknownField: return "unknown field";
    case Status::TypeMismatch: return "type mismatch in criteria";
    case Status::LayoutMismatch: return "layout keys disagree with the file";
    case Status::IsDirectory: return "a folder, not a file";
    case Status::IsPipe: return "a named pipe, not a file";
    case Status::IsSocket: return "a socket, not a file";
    case Status::IsDevice: return "a device, not a file";
    case Status::LinkLoop: return "symbolic links in a loop";
    }
    return "unknown status";
}

std::string statusText(Status s) {
    return "status " + std::to_string(static_cast<int>(s)) + " (" + describe(s) + ")";
}

}  // namespace btrieve
