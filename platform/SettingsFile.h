#pragma once

#include <cstddef>
#include <string>

namespace vantari {

// Small files the program keeps for itself (FtpHost.ini, the registry stand-in). They are
// never reached through a symbolic link, and only a regular file of a bounded size is read,
// so that a fifo, a device or a huge file put in their place cannot hang the program or fill
// its memory.

constexpr size_t MaxSettingsFileBytes = 1024 * 1024;

// The whole file; false when it does not exist. Raises Exception with a clear message for a
// symbolic link, anything that is not a regular file, a file over maxBytes or a read error.
bool ReadSettingsFile(const std::string &path, std::string &content,
                      size_t maxBytes = MaxSettingsFileBytes);

// Replaces the file so that it is on disk when the call returns (a temporary file beside it
// is written, synced and renamed over it, then the folder is synced); the file has mode
// afterwards whatever mode it had. A symbolic link or other non-regular file in its place, a
// file without write permission or any failure raises Exception("Unable to write to <path>").
void WriteSettingsFile(const std::string &path, const std::string &content, unsigned mode);

// Writes a new file only when nothing of that name exists yet; false otherwise or on failure.
bool CreateSettingsFile(const std::string &path, const std::string &content, unsigned mode);

} // namespace vantari
