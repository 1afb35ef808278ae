#include "FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace vantari {

TFileDescriptor::~TFileDescriptor() {
  if (FFd >= 0)
    ::close(FFd); // never retried: the descriptor is gone whatever close says
}

TFileDescriptor &TFileDescriptor::operator=(TFileDescriptor &&other) noexcept {
  if (this != &other) {
    if (FFd >= 0)
      ::close(FFd);
    FFd = other.Release();
  }
  return *this;
}

TNativeHandle TFileDescriptor::Release() {
  return std::exchange(FFd, -1);
}

bool TFileDescriptor::Close() {
  return FFd >= 0 && ::close(Release()) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

} // namespace vantari
