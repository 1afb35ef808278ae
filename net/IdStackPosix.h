#pragma once

#include <cstdint>

namespace vantari {

// The Windows Sockets code standing for an errno value (unknown values pass through).
int32_t WSACodeOfErrno(int error);
// The Windows Sockets code standing for a getaddrinfo failure.
int32_t WSACodeOfResolverError(int error, int savedErrno);

} // namespace vantari
