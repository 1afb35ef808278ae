#include "FtpTestKit.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace vantari::test {

TScratchDir::TScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vantari-ftp-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TScratchDir::~TScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void PutFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
