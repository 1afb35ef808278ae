#include "IdStack.h"

#include "IdException.h"

#include <array>
#include <bit>
#include <charconv>
#include <strings.h>

namespace vantari {

namespace {

struct TErrorTextEntry {
  int32_t Code;
  const char *Text;
};

// The texts of the Windows Sockets codes the base stack knows.
constexpr TErrorTextEntry ErrorTexts[] = {
    {Id_WSAEINTR, "Interrupted system call."},
    {Id_WSAEBADF, "Bad file number."},
    {Id_WSAEACCES, "Access denied."},
    {Id_WSAEFAULT, "Bad address."},
    {Id_WSAEINVAL, "Invalid argument."},
    {Id_WSAEMFILE, "Too many open files."},
    {Id_WSAEWOULDBLOCK, "Operation would block. "},
    {Id_WSAEINPROGRESS, "Operation now in progress."},
    {Id_WSAEALREADY, "Operation already in progress."},
    {Id_WSAENOTSOCK, "Socket operation on non-socket."},
    {Id_WSAEDESTADDRREQ, "Destination address required."},
    {Id_WSAEMSGSIZE, "Message too long."},
    {Id_WSAEPROTOTYPE, "Protocol wrong type for socket."},
    {Id_WSAENOPROTOOPT, "Bad protocol option."},
    {Id_WSAEPROTONOSUPPORT, "Protocol not supported."},
    {Id_WSAESOCKTNOSUPPORT, "Socket type not supported."},
    {Id_WSAEOPNOTSUPP, "Operation not supported on socket."},
    {Id_WSAEPFNOSUPPORT, "Protocol family not supported."},
    {Id_WSAEAFNOSUPPORT, "Address family not supported by protocol family."},
    {Id_WSAEADDRINUSE, "Address already in use."},
    {Id_WSAEADDRNOTAVAIL, "Cannot assign requested address."},
    {Id_WSAENETDOWN, "Network is down."},
    {Id_WSAENETUNREACH, "Network is unreachable."},
    {Id_WSAENETRESET, "Net dropped connection or reset."},
    {Id_WSAECONNABORTED, "Software caused connection abort."},
    {Id_WSAECONNRESET, "Connection reset by peer."},
    {Id_WSAENOBUFS, "No buffer space available."},
    {Id_WSAEISCONN, "Socket is already connected."},
    {Id_WSAENOTCONN, "Socket is not connected."},
    {Id_WSAESHUTDOWN, "Cannot send or receive after socket is closed."},
    {Id_WSAETOOMANYREFS, "Too many references, cannot splice."},
    {Id_WSAETIMEDOUT, "Connection timed out."},
    {Id_WSAECONNREFUSED, "Connection refused."},
    {Id_WSAELOOP, "Too many levels of symbolic links."},
    {Id_WSAENAMETOOLONG, "File name too long."},
    {Id_WSAEHOSTDOWN, "Host is down."},
    {Id_WSAEHOSTUNREACH, "No route to host."},
    {Id_WSAENOTEMPTY, "Directory not empty"},
};

TIdStackFactory stackFactory;

// The four parts of a dotted text: three cut at the next ".", the fourth is the rest.
std::array<std::string, 4> DottedParts(const std::string &text) {
  std::array<std::string, 4> parts;
  std::string rest = text;
  for (int i = 0; i < 3; ++i) {
    const auto dot = rest.find('.');
    if (dot == std::string::npos) {
      parts[i] = rest;
      rest.clear();
    } else {
      parts[i] = rest.substr(0, dot);
      rest.erase(0, dot + 1);
    }
  }
  parts[3] = rest;
  return parts;
}

// A decimal integer as the runtime reads it: optional sign, digits, nothing else.
bool ReadDecimal(const std::string &text, long long &value) {
  const char *first = text.data();
  const char *last = first + text.size();
  if (first != last && *first == '+') {
    ++first;
  }
  if (first == last) {
    return false;
  }
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

} // namespace

std::string TIdStack::ErrorText(int32_t code) {
  for (const auto &entry : ErrorTexts) {
    if (entry.Code == code) {
      return entry.Text;
    }
  }
  return std::string();
}

// Network order is big-endian.
uint16_t TIdStack::HToNS(uint16_t v) {
  if constexpr (std::endian::native == std::endian::big)
    return v;
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}
uint16_t TIdStack::NToHS(uint16_t v) {
  return HToNS(v);
}
uint32_t TIdStack::HToNL(uint32_t v) {
  if constexpr (std::endian::native == std::endian::big)
    return v;
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
uint32_t TIdStack::NToHL(uint32_t v) {
  return HToNL(v);
}

std::string TIdStack::AddressToText(const uint8_t address[4]) {
  return Format("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

uint32_t TIdStack::TextToAddress(const std::string &text) {
  uint32_t address = 0;
  auto *bytes = reinterpret_cast<uint8_t *>(&address);
  const auto parts = DottedParts(text);
  for (size_t i = 0; i < parts.size(); ++i) {
    long long value = 0;
    if (!ReadDecimal(parts[i], value)) {
      throw EConvertError(Format("'%s' is not a valid integer value", parts[i].c_str()));
    }
    bytes[i] = static_cast<uint8_t>(value & 0xFF);
  }
  return address;
}

bool TIdStack::IsDottedQuad(const std::string &text) {
  for (const auto &part : DottedParts(text)) {
    long long value = 0;
    if (!ReadDecimal(part, value) || value < 0 || value > 255) {
      return false;
    }
  }
  return true;
}

std::string TIdStack::LookupHost(const std::string &host) {
  if (strcasecmp(host.c_str(), "LOCALHOST") == 0) {
    return "127.0.0.1";
  }
  if (IsDottedQuad(host)) {
    return host;
  }
  return GetHostByName(host);
}

TIdStackSocketHandle TIdStack::OpenSocketId(int32_t type, int32_t protocol) {
  const TIdStackSocketHandle s = Socket(Id_AF_INET, type, protocol);
  if (s == Id_INVALID_SOCKET) {
    FLastErrorCode = WSAGetLastError();
    throw EIdInvalidSocket();
  }
  return s;
}

bool TIdStack::CheckResult(int32_t result, std::initializer_list<int32_t> tolerated) {
  if (result != Id_SOCKET_ERROR) {
    return false;
  }
  FLastErrorCode = WSAGetLastError();
  for (const int32_t code : tolerated) {
    if (code == FLastErrorCode) {
      return true;
    }
  }
  RaiseError(FLastErrorCode);
}

void TIdStack::RaiseError(int32_t code) {
  throw EIdSocketError(code, Format("Socket Error # %d\r\n%s", code, ErrorText(code).c_str()));
}

void SetStackClass(TIdStackFactory factory) {
  stackFactory = std::move(factory);
}

std::unique_ptr<TIdStack> CreateStack() {
  if (stackFactory) {
    return stackFactory();
  }
  return CreateSystemStack();
}

} // namespace vantari
