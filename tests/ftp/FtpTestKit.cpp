#include "FtpTestKit.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace vantari::test {

TScratchDir::TScratchDir() {
  FPath = MakeTempFolder((std::filesystem::temp_directory_path() / "vantari-ftp-").string());
}

TScratchDir::~TScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

void TScriptedFtpTest::Open() {
  Peer.Start();
  Ftp.SetHost("127.0.0.1");
  Ftp.SetPort(Peer.Port());
  Ftp.SetUsername("member");
  Ftp.SetPassword("pw");
  Ftp.OpenSession(true, -1);
}

std::vector<std::string> TScriptedFtpTest::Finish() {
  Ftp.CloseSession();
  std::vector<std::string> lines = Peer.Finish();
  EXPECT_EQ(Peer.Failure(), "");
  return lines;
}

std::string PatternBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char &c : bytes)
    c = static_cast<char>(random() & 0xFF);
  return bytes;
}

void TWorkLog::Attach(TIdComponent &component) {
  component.OnWorkBegin = [this](TIdComponent *sender, TWorkMode mode, int32_t max) {
    Entries.push_back({"begin", mode, max, sender});
  };
  component.OnWork = [this](TIdComponent *sender, TWorkMode mode, int32_t count) {
    Entries.push_back({"work", mode, count, sender});
  };
  component.OnWorkEnd = [this](TIdComponent *sender, TWorkMode mode) {
    Entries.push_back({"end", mode, 0, sender});
  };
}

std::vector<int32_t> TWorkLog::Counts() const {
  std::vector<int32_t> counts;
  for (const TEntry &entry : Entries)
    if (entry.Kind == "work")
      counts.push_back(entry.Value);
  return counts;
}

} // namespace vantari::test
