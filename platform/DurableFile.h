#pragma once

#include "OsError.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vantari {

// The program's own small files (settings, sync state, restore journal): written whole or not
// at all, read only as regular files of a bounded size, never through a symbolic link.

enum class TSmallRead {
  srRead,       // content holds the whole file
  srMissing,    // nothing of that name (or a folder on the way is missing)
  srLink,       // a symbolic link stands there; it is not followed
  srNotRegular, // a folder, fifo, device or socket
  srTooLarge,   // over maxBytes (also when it grew while being read)
  srFailed,     // it could not be opened or read
};

// Reads path whole when it is a regular file of at most maxBytes; never blocks on a fifo.
TSmallRead ReadSmallFile(const std::string &path, size_t maxBytes, std::string &content);

// Replaces path with content durably: a new file beside it is written, flushed and renamed
// over it, then the folder is flushed; path then has mode (POSIX bits; on Windows only the
// owner write bit counts). The system's reason when it failed (path untouched unless only the
// folder flush failed). A link at path is replaced, never written through.
TOsResult ReplaceFileDurably(const std::string &path, std::string_view content, unsigned mode);

// As ReplaceFileDurably, but only when nothing of that name exists; fails otherwise.
TOsResult CreateFileDurably(const std::string &path, std::string_view content, unsigned mode);

// What stands at path, without following a link: true for a symbolic link.
bool IsSymbolicLink(const std::string &path);

// Whether the user may write path (a missing path counts as not writable).
bool IsWritableFile(const std::string &path);

} // namespace vantari
