// Opening a company file for reading without ever waiting on it.
#pragma once

#include <cstdint>
#include <string>

#include "btrieve/status.h"

namespace btrieve::detail {

// Opens path read-only and returns its descriptor and size, or a status that says
// what the path is instead of a file. A named pipe, a socket, a device or a folder
// is refused before a byte is read, and the open itself cannot block (a pipe with
// no writer would otherwise hold open() forever). Statuses: FileNotFound,
// AccessDenied, NameTooLong, LinkLoop, IsDirectory, IsPipe, IsSocket, IsDevice,
// IoError for anything else. On success the caller owns fd.
Status openRegularFileNonBlocking(const std::string& path, int& fd, uint64_t& size);

}  // namespace btrieve::detail
