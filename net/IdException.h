#pragma once

#include "Exception.h"

#include <cstdint>
#include <string>

namespace vantari {

// A text that should hold a number does not (e.g. a part of a dotted address).
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// Root of every failure raised by the network components. Messages are fixed English texts.
class EIdException : public Exception {
public:
  using Exception::Exception;
};

// Family roots, never raised themselves.
class EIdSilentException : public EIdException {
public:
  using EIdException::EIdException;
};
class EIdStackError : public EIdException {
public:
  using EIdException::EIdException;
};
class EIdSocketHandleError : public EIdException {
public:
  using EIdException::EIdException;
};

// An operating-system socket failure, carrying its Windows Sockets code;
// the message is "Socket Error # <code>\r\n<text of the code>".
class EIdSocketError : public EIdException {
public:
  EIdSocketError(int32_t code, const std::string &message)
      : EIdException(message), FSocketErrorCode(code) {}
  int32_t SocketErrorCode() const noexcept { return FSocketErrorCode; }

private:
  int32_t FSocketErrorCode;
};

class EIdInvalidSocket : public EIdException {
public:
  EIdInvalidSocket() : EIdException("Cannot allocate socket.") {}
};
class EIdStackInitializationFailed : public EIdStackError {
public:
  EIdStackInitializationFailed() : EIdStackError("Winsock Initialization Error.") {}
};
class EIdStackSetSizeExceeded : public EIdStackError {
public:
  EIdStackSetSizeExceeded() : EIdStackError("Set Size Exceeded.") {}
};
class EIdConnClosedGracefully : public EIdSilentException {
public:
  EIdConnClosedGracefully() : EIdSilentException("Connection Closed Gracefully.") {}
};
class EIdClosedSocket : public EIdException {
public:
  EIdClosedSocket() : EIdException("Disconnected.") {}
};
class EIdCouldNotBindSocket : public EIdSocketHandleError {
public:
  EIdCouldNotBindSocket()
      : EIdSocketHandleError("Could not bind socket. Address and port are already in use.") {}
};
class EIdInvalidPortRange : public EIdSocketHandleError {
public:
  EIdInvalidPortRange(int32_t min, int32_t max);
};
class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
  EIdCanNotBindPortInRange(int32_t min, int32_t max);
};
class EIdPackageSizeTooBig : public EIdSocketHandleError {
public:
  EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.") {}
};
class EIdNotAllBytesSent : public EIdSocketHandleError {
public:
  EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.") {}
};
// The peer neither answered nor took bytes within a limit. Every time-out of a connection's
// reads, and of its TLS writes, is one of these, so that one recovery serves them all.
class EIdReadTimeout : public EIdException {
public:
  EIdReadTimeout() : EIdException("Read Timeout") {}
};
// Failures of the echo client while decoding what arrived.
class EIdIcmpException : public EIdException {
public:
  using EIdException::EIdException;
};

} // namespace vantari
