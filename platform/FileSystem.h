#pragma once

#include "NativeHandle.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// The file system as the original platform showed it. Local paths are UTF-8 and use '/'
// (Windows also takes '\\' and a drive, "C:/Data"). Below, how Linux shows it; on Windows the
// attributes, the archive flag and the dates are the file system's own.
// Attributes: a name beginning with '.' is hidden; anything that is neither a regular
// file nor a directory (fifo, socket, device) is a system entry and is never opened;
// a file without the owner write bit is read-only; the archive attribute is set until
// FileClearArchiveAttr records the file's state in a user extended attribute and stays
// cleared until the file changes (on file systems without user extended attributes
// every file carries it).
enum TFileAttr : int {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x3F,
  faSymLink = 0x400, // reached through a symbolic link; never filters
};

struct TSearchRec {
  std::string Name; // name part only
  int Attr = 0;     // TFileAttr bits
  int64_t Size = 0;
  int32_t Time = 0;      // MS-DOS date and time of the last write
  int64_t WriteTime = 0; // the last write in seconds since 1970 (UTC), to the second
};

// Wildcard match with Windows rules: case-insensitive (ASCII letters), '*' and '?',
// "*.*" matches every name and "name.*" also matches "name" without an extension.
bool MatchesMask(const std::string &name, const std::string &mask);

// Entries of the folder of pattern whose names match its name part, sorted by name
// without regard to case. Plain files always qualify; hidden, system and directory
// entries only when attr holds faHidden, faSysFile or faDirectory respectively.
// "." and ".." are never returned. An unreadable folder gives no entries.
std::vector<TSearchRec> FindFiles(const std::string &pattern, int attr);
// The listing's order, the same wherever an archive is made: ASCII letters without regard to
// case, then the bytes.
void SortByName(std::vector<TSearchRec> &found);

bool FileExists(const std::string &path);      // exists and is not a directory
bool DirectoryExists(const std::string &path); // exists and is a directory
// Creates path and every missing parent; true when the directory exists afterwards.
bool ForceDirectories(const std::string &path);
// Deletes a file; fails for a directory, a missing file and a read-only file.
bool DeleteFile(const std::string &path);
// Size in bytes, or -1 when path does not exist.
int64_t FileSize(const std::string &path);

// TFileAttr bits of path, or -1 when it does not exist.
int FileGetAttr(const std::string &path);
bool FileSetReadOnly(const std::string &path, bool readOnly);
bool FileHasArchiveAttr(const std::string &path);
// Clears the archive attribute; false where the file system cannot record it.
bool FileClearArchiveAttr(const std::string &path);
// Sets it again, as writing to the file does.
bool FileSetArchiveAttr(const std::string &path);

// Last-write time as an MS-DOS date and time, or -1 when the file does not exist.
int32_t FileGetDate(const std::string &path);
int32_t FileGetDate(TNativeHandle fd);
// Sets the last-write (and access) time from an MS-DOS date and time in local time.
bool FileSetDate(const std::string &path, int32_t fileDate);
bool FileSetDate(TNativeHandle fd, int32_t fileDate);

// The temporary folder ($TMPDIR or /tmp; on Windows the user's), ending in '/'.
std::string GetTempDir();
// Creates a new, empty file named prefix + unique characters in dir and returns its
// path; an empty text when it could not be created.
std::string GetTempFileName(const std::string &dir, const std::string &prefix);
std::string GetCurrentDir();

// Path helpers in the manner of the original runtime (on Windows '\\' delimits as well).
std::string ExtractFileName(const std::string &path); // after the last '/'
std::string ExtractFilePath(const std::string &path); // up to and including the last '/'
std::string ExtractFileDir(const std::string &path);  // ExtractFilePath without the last '/'
std::string ExtractFileExt(const std::string &path);  // from the last '.' of the name part
// Replaces the extension (from the last '.' of the name part) or appends ext.
std::string ChangeFileExt(const std::string &path, const std::string &ext);
std::string IncludeTrailingPathDelimiter(const std::string &path);
// Absolute form of path relative to the current folder, "." and ".." resolved by
// text (symbolic links are not followed).
std::string ExpandFileName(const std::string &path);

} // namespace vantari
