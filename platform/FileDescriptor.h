#pragma once

#include "NativeHandle.h"

#include <string>
#include <string_view>

namespace vantari {

// Owns one descriptor (a HANDLE on Windows): InvalidNativeHandle is empty, a move takes it over,
// the destructor closes it once and never throws.
class TFileDescriptor {
public:
  explicit TFileDescriptor(TNativeHandle fd = InvalidNativeHandle) : FFd(fd) {}
  ~TFileDescriptor();
  TFileDescriptor(TFileDescriptor &&other) noexcept : FFd(other.Release()) {}
  TFileDescriptor &operator=(TFileDescriptor &&other) noexcept;
  TFileDescriptor(const TFileDescriptor &) = delete;
  TFileDescriptor &operator=(const TFileDescriptor &) = delete;

  TNativeHandle Get() const { return FFd; }
  bool Valid() const { return FFd != InvalidNativeHandle; }
  TNativeHandle Release();
  // Closes now and reports whether the close succeeded (a deferred write error shows here).
  bool Close();

private:
  TNativeHandle FFd;
};

// Writes every byte, retrying after a signal; false on any other failure.
bool WriteAll(TNativeHandle fd, std::string_view bytes);

// Makes the entries of a folder durable; never follows a link (the folder operations' own, in
// FolderOps.h, declared here for the callers that knew it from here).
bool SyncFolder(const std::string &folder);

} // namespace vantari
