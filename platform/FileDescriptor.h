#pragma once

#include <string>
#include <string_view>

namespace vantari {

// Owns one descriptor: -1 is empty, a move takes it over, the destructor closes it once and
// never throws.
class TFileDescriptor {
public:
  explicit TFileDescriptor(int fd = -1) : FFd(fd) {}
  ~TFileDescriptor();
  TFileDescriptor(TFileDescriptor &&other) noexcept : FFd(other.Release()) {}
  TFileDescriptor &operator=(TFileDescriptor &&other) noexcept;
  TFileDescriptor(const TFileDescriptor &) = delete;
  TFileDescriptor &operator=(const TFileDescriptor &) = delete;

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  int Release();
  // Closes now and reports whether the close succeeded (a deferred write error shows here).
  bool Close();

private:
  int FFd;
};

// Writes every byte, retrying after a signal; false on any other failure.
bool WriteAll(int fd, std::string_view bytes);

// Makes the entries of a folder (new names, renames, removals) durable; never follows a link.
bool SyncFolder(const std::string &folder);

} // namespace vantari
