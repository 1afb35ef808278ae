#pragma once

#include <string>

namespace vantari {

// Texts shared with the service or stored in archives are CP949 bytes; local file
// names, settings and the window are UTF-8. A text that cannot be converted keeps
// its raw bytes, so nothing a customer named is ever lost in transit.
std::string Utf8ToCp949(const std::string &text);
std::string Cp949ToUtf8(const std::string &text);

} // namespace vantari
