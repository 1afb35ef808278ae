// The support desk's log: bounded to two files of 1 MB, whole lines in order, no password.
#include "Log.h"
#include "TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

// The step number of a line "YYYY-MM-DD HH:MM:SS [pid] step N ..."; -1 for anything else.
int StepOf(const std::string &line) {
  const size_t at = line.find("] step ");
  return at == std::string::npos || line.size() < 19 || line[4] != '-' || line[13] != ':'
             ? -1
             : std::stoi(line.substr(at + 7));
}

TEST(Log, RotatesAtOneMegabyteKeepingTwoFilesOfWholeLinesInOrder) {
  TTempFolder folder;
  TLog log(folder / "vantari.log");
  const std::string padding(200, 'x');
  constexpr int Steps = 12000; // about 2.7 MB: the log turns over twice
  for (int step = 0; step < Steps; ++step)
    log.Write("step " + std::to_string(step) + " " + padding);

  size_t files = 0;
  for (const auto &entry : fs::directory_iterator(folder.Path())) {
    ++files;
    EXPECT_LE(static_cast<int64_t>(entry.file_size()), TLog::RotateBytes) << entry.path();
  }
  EXPECT_EQ(files, 2u);
  // Both files together: every line whole, the newest last, none missing between them.
  const std::vector<std::string> kept = log.Tail(Steps);
  ASSERT_GT(kept.size(), 4000u) << "more than the newer file alone";
  for (size_t i = 0; i < kept.size(); ++i)
    ASSERT_EQ(StepOf(kept[i]), Steps - static_cast<int>(kept.size()) + static_cast<int>(i));
  EXPECT_EQ(log.Tail(100).size(), 100u);
  EXPECT_EQ(StepOf(log.Tail(100).front()), Steps - 100);

  TLog::Hide("pa55-w0rd");
  log.Write("step 0 login with pa55-w0rd\nas typed");
  const std::string last = log.Tail(1).front();
  EXPECT_EQ(last.substr(last.find(']')), "] step 0 login with *** as typed") << last;
}

} // namespace
} // namespace vantari::test
