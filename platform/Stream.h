#pragma once

#include "Exception.h"
#include "NativeHandle.h"
#include "OsError.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// A stream failure; where the system said why, its code and text come along (Cause), the text
// after the established message ("Stream write error: No space left on device").
class EStreamError : public Exception {
public:
  explicit EStreamError(std::string message, TOsResult cause = {})
      : Exception(std::move(message)), FCause(std::move(cause)) {}
  const TOsResult &Cause() const { return FCause; }

private:
  TOsResult FCause;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
  using EStreamError::EStreamError;
};

// Raises EWriteError "Stream write error", followed by the system's text when it said why.
[[noreturn]] void RaiseWriteError(const TOsResult &cause);

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// The one byte stream of the program, shared by the archive engine and the FTP
// transfers. Read and Write return the count moved (short counts are not errors);
// ReadBuffer and WriteBuffer move everything or raise.
class TStream {
public:
  virtual ~TStream() = default;

  virtual int64_t Read(void *buffer, int64_t count) = 0;
  virtual int64_t Write(const void *buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(int64_t newSize) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short count.
  void ReadBuffer(void *buffer, int64_t count);
  void WriteBuffer(const void *buffer, int64_t count);
  // Copies count bytes from source (all of it from position 0 when count is 0).
  int64_t CopyFrom(TStream &source, int64_t count);
};

enum TFileMode : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmCreate = 0xFF00, // create or truncate, read and write
};

// Reading, writing, seeking and sizing an open file through its handle, the same for every
// stream over a file. Read and write return the bytes moved, 0 on failure or a closed handle.
int64_t ReadHandle(TNativeHandle handle, void *buffer, int64_t count);
int64_t WriteHandle(TNativeHandle handle, const void *buffer, int64_t count);
// Raises EStreamError "Seek failed on "<name>". <reason>".
int64_t SeekHandle(TNativeHandle handle, const std::string &name, int64_t offset,
                   TSeekOrigin origin);
// Cuts or extends the file to newSize and leaves the position where it was; false on failure.
bool TruncateHandle(TNativeHandle handle, int64_t newSize);
// The file's size, or -1 when the system cannot tell.
int64_t HandleSize(TNativeHandle handle);

// A file on disk. Opening never locks others out (on Windows: read and write shared).
// Raises EFOpenError "Cannot open file "%s". %s" or EFCreateError "Cannot create
// file "%s". %s" with the system's reason.
class TFileStream : public TStream {
public:
  TFileStream(const std::string &path, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream &) = delete;
  TFileStream &operator=(const TFileStream &) = delete;

  int64_t Read(void *buffer, int64_t count) override;
  int64_t Write(const void *buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override;

  const std::string &FileName() const { return FPath; }
  TNativeHandle Handle() const { return FFd; }

private:
  std::string FPath;
  TNativeHandle FFd = InvalidNativeHandle;
};

// Bytes in memory; grows on write past the end.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : FData(std::move(bytes)) {}

  int64_t Read(void *buffer, int64_t count) override;
  int64_t Write(const void *buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

  const std::vector<uint8_t> &Bytes() const { return FData; }
  std::vector<uint8_t> &Bytes() { return FData; }

private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

} // namespace vantari
