#include "Paths.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using namespace vantari;
using vantari::test::TTempFolder;

TEST(Folders, ProgramFolderIsTheExecutablesFolderWhateverTheCurrentDirectory) {
  const auto before = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const std::string folder = ProgramFolder();
  std::filesystem::current_path(before);
  EXPECT_EQ(folder, std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/");
}

TEST(Folders, ConfigFolderFollowsXdgConfigHomeAndIsCreatedPrivate) {
  TTempFolder home;
  ::setenv("XDG_CONFIG_HOME", (home / "cfg").c_str(), 1);
  EXPECT_EQ(ConfigFolder(), home / "cfg/vantari/");
  struct stat st {};
  ASSERT_EQ(::stat((home / "cfg/vantari").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", home.Path().c_str(), 1);
  EXPECT_EQ(ConfigFolder(), home / ".config/vantari/");
  EXPECT_TRUE(std::filesystem::is_directory(home / ".config/vantari"));
}
