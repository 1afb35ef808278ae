#include "IdHostLookup.h"

#include "IdSystemStack.h"

#include "IdStackPosix.h"

#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantari {

// An eventfd the caller's wait watches; without one to spare the caller looks instead.
TIdHostLookup::TIdHostLookup(std::string name)
    : FName(std::move(name)), FSignal(eventfd(0, EFD_CLOEXEC)) {}

TIdHostLookup::~TIdHostLookup() {
  if (FSignal >= 0)
    close(FSignal);
}

void TIdHostLookup::Resolve() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo *answer = nullptr;
  const int result = getaddrinfo(FName.c_str(), nullptr, &hints, &answer);
  const int error = errno;
  if (result != 0 || answer == nullptr) {
    FCode = WSACodeOfResolverError(result, error);
  } else {
    int32_t port = 0;
    ReadAddress(*reinterpret_cast<const sockaddr_in *>(answer->ai_addr), FAddress, port);
  }
  if (answer)
    freeaddrinfo(answer);
}

void TIdHostLookup::SignalEnded() {
  const uint64_t one = 1;
  if (FSignal >= 0) [[maybe_unused]]
    const ssize_t ignored = write(FSignal, &one, sizeof one);
}

} // namespace vantari
