// What the test environment does the same on every system; the private home is per system.
#include "AppTestEnvironment.h"

#include <fstream>
#include <random>
#include <sstream>

namespace vantari::test {

std::string U8(const std::filesystem::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path U8Path(const std::string &text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char &byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::filesystem::path &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

TContents Contents(const std::filesystem::path &folder) {
  TContents contents;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file())
      contents[U8(entry.path().filename())] = ReadFile(entry.path());
  return contents;
}

} // namespace vantari::test
