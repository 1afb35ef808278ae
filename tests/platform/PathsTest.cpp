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

// The settings and this computer's own state: each follows its XDG variable, else the home's
// default, and is created private.
TEST(Folders, ConfigAndStateFoldersFollowXdgAndAreCreatedPrivate) {
  const struct {
    std::string (*Folder)();
    const char *Variable;
    const char *Default;
  } cases[] = {{ConfigFolder, "XDG_CONFIG_HOME", ".config/vantari"},
               {StateFolder, "XDG_STATE_HOME", ".local/state/vantari"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Variable);
    TTempFolder home;
    ::setenv(c.Variable, (home / "xdg").c_str(), 1);
    EXPECT_EQ(c.Folder(), home / "xdg/vantari/");
    struct stat st {};
    ASSERT_EQ(::stat((home / "xdg/vantari").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ::unsetenv(c.Variable);
    ::setenv("HOME", home.Path().c_str(), 1);
    EXPECT_EQ(c.Folder(), home / c.Default + "/");
    EXPECT_TRUE(std::filesystem::is_directory(home / c.Default));
  }
}
