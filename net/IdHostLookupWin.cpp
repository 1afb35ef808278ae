#include "IdHostLookup.h"

#include "IdSystemStack.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace vantari {

// Windows gives no descriptor a socket wait could watch for a thread's end: the caller looks.
TIdHostLookup::TIdHostLookup(std::string name) : FName(std::move(name)) {}

TIdHostLookup::~TIdHostLookup() = default;

void TIdHostLookup::Resolve() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *answer = nullptr;
  const int result = ::getaddrinfo(FName.c_str(), nullptr, &hints, &answer);
  if (result != 0 || answer == nullptr) {
    // No such name, no address, no answer from any name server: the name is not found.
    FCode = result == WSA_NOT_ENOUGH_MEMORY ? Id_WSAENOBUFS : Id_WSAHOST_NOT_FOUND;
  } else {
    int32_t port = 0;
    ReadAddress(*reinterpret_cast<const sockaddr_in *>(answer->ai_addr), FAddress, port);
  }
  if (answer)
    ::freeaddrinfo(answer);
}

void TIdHostLookup::SignalEnded() {}

} // namespace vantari
