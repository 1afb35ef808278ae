#include "ArchiveFixture.h"

#include "Stream.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <zlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vantari::test {

ArchiveTest::ArchiveTest() {
  std::random_device seed;
  std::mt19937_64 pick(seed());
  const std::string base = ::testing::TempDir() + "vantari-backup-";
  for (int attempt = 0; Dir.empty() && attempt < 100; ++attempt) {
    std::string name = base + std::to_string(pick() % 1000000000);
    if (std::filesystem::create_directory(name))
      Dir = name;
  }
}

ArchiveTest::~ArchiveTest() {
  std::filesystem::remove_all(Dir);
}

bool ArchiveTest::ArchiveFlagsKept() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr;
#else
  return true;
#endif
}

std::string ArchiveTest::Shown(const std::string &name) const {
  return std::filesystem::path(Path(name)).make_preferred().string();
}

void ArchiveTest::Write(const std::string &name, const std::string &bytes) const {
  const std::filesystem::path path(Path(name));
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ArchiveTest::Read(const std::string &path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ArchiveTest::Random(size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto &byte : bytes)
    byte = static_cast<char>(generator());
  return bytes;
}

std::string ArchiveTest::PackToBytes(TBackupFile &engine, const std::vector<std::string> &masks) {
  TMemoryStream stream;
  engine.SetBackupStream(&stream);
  EXPECT_TRUE(engine.Backup(masks, ":STREAM"));
  return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

bool ArchiveTest::RestoreBytes(TBackupFile &engine, const std::string &archive,
                               const std::string &folder) {
  TMemoryStream stream(std::vector<uint8_t>(archive.begin(), archive.end()));
  engine.SetRestoreStream(&stream);
  return engine.Restore(":STREAM", folder);
}

TArchiveBytes &TArchiveBytes::I32(int32_t value) {
  for (int i = 0; i < 4; ++i)
    Bytes.push_back(static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF));
  return *this;
}

TArchiveBytes &TArchiveBytes::Text(const std::string &text) {
  I32(static_cast<int32_t>(text.size()));
  return Raw(text);
}

TArchiveBytes &TArchiveBytes::Raw(const std::string &bytes) {
  Bytes += bytes;
  return *this;
}

TArchiveBytes &TArchiveBytes::Header(const std::string &title, int32_t total, int32_t count) {
  return Text(title).I32(total).I32(count);
}

TArchiveBytes &TArchiveBytes::Member(const std::string &name, int32_t date) {
  return Text(name).I32(date);
}

TArchiveBytes &TArchiveBytes::Deflated(const std::string &content) {
  const std::string stream = Deflate(content);
  return I32(static_cast<int32_t>(stream.size())).Raw(stream);
}

TArchiveBytes &TArchiveBytes::Stored(const std::string &content) {
  return I32(-static_cast<int32_t>(content.size())).Raw(content);
}

std::string Deflate(const std::string &content, int level) {
  std::string out(compressBound(content.size()) + 64, '\0');
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.data()));
  s.avail_in = static_cast<uInt>(content.size());
  s.next_out = reinterpret_cast<Bytef *>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

} // namespace vantari::test
