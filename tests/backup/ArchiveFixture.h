#pragma once

#include "BackupFile.h"
#include "HostUIRecorder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantari::test {

// A fresh folder per test, removed afterwards, and small file helpers.
class ArchiveTest : public ::testing::Test {
protected:
  ArchiveTest();
  ~ArchiveTest() override;

  std::string Path(const std::string &name) const { return Dir + "/" + name; }
  // Path(name) with the system's own separators, as the engine reports a listed file.
  std::string Shown(const std::string &name) const;
  void Write(const std::string &name, const std::string &bytes) const;
  std::string Read(const std::string &path) const;
  static std::string Random(size_t count, unsigned seed);
  // False under Wine: it derives the archive attribute from the file's type, so every file
  // carries it there and a cleared flag cannot be seen.
  static bool ArchiveFlagsKept();
  // Backs up masks into a :STREAM archive and returns its bytes.
  std::string PackToBytes(TBackupFile &engine, const std::vector<std::string> &masks);
  // Restores archive bytes through :STREAM into folder; false on failure, exceptions pass.
  bool RestoreBytes(TBackupFile &engine, const std::string &archive, const std::string &folder);

  std::string Dir;
  THostUIRecorder Host;
};

// Builds archive bytes field by field.
class TArchiveBytes {
public:
  TArchiveBytes &I32(int32_t value);
  TArchiveBytes &Text(const std::string &text);
  TArchiveBytes &Raw(const std::string &bytes);
  TArchiveBytes &Header(const std::string &title = "t", int32_t total = 3, int32_t count = 1);
  TArchiveBytes &Member(const std::string &name, int32_t date = 0x5A216000);
  TArchiveBytes &Magic() { return Raw(std::string("EC2\0", 4)); }
  // A compressed block (positive length) holding content.
  TArchiveBytes &Deflated(const std::string &content);
  TArchiveBytes &Stored(const std::string &content);
  std::string Bytes;
};

std::string Deflate(const std::string &content, int level = 1);

} // namespace vantari::test
