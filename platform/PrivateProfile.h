#pragma once

#include <string>

namespace vantari {

// Private profile (INI) files: "[section]" lines followed by "key=value" lines. Section and key
// names compare case-insensitively; comments (';' or '#'), blank lines and every section and key
// not written keep their place and text. Text is UTF-8 and passes through unchanged.

// Writes value under key in section of the file at path, creating the file, the section or the
// key when missing. The text is on disk when the call returns, and the file has mode 0600 (it
// may hold a password). Raises Exception("Unable to write to <path>") when it cannot be written,
// a symbolic link or a non-regular file in its place included (never written through).
void WritePrivateProfileString(const std::string &section, const std::string &key,
                               const std::string &value, const std::string &path);

// The value of key in section of the file at path, at most 2047 characters (a longer value is
// cut); defaultValue when the file, the section or the key is missing. Blanks around the value
// and one pair of enclosing quotes are dropped. A symbolic link, a non-regular file (fifo,
// device) or a file over 1 MB in its place raises Exception("Cannot read <path>: <why>").
std::string GetPrivateProfileString(const std::string &section, const std::string &key,
                                    const std::string &defaultValue, const std::string &path);

} // namespace vantari
