#include "FolderOps.h"
#include "DurableFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace vantari;
using vantari::test::ReadText;
using vantari::test::TTempFolder;
using vantari::test::WriteText;

namespace {

std::vector<std::string> NamesIn(const std::string &folder) {
  std::vector<std::string> names;
  for (const TFolderEntry &entry : ListFolder(folder))
    names.push_back(entry.Name);
  return names;
}

} // namespace

TEST(DurableFiles, ReplaceIsWholeAndCreateNeverReplaces) {
  TTempFolder folder;
  const auto state = folder / "SyncState.ini";
  WriteText(state, "old");
  ASSERT_TRUE(ReplaceFileDurably(state, "new", 0600));
  EXPECT_EQ(ReadText(state), "new");
  EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"SyncState.ini"}); // no leftover

  EXPECT_FALSE(CreateFileDurably(state, "other", 0600));
  EXPECT_EQ(ReadText(state), "new");
  EXPECT_TRUE(CreateFileDurably(folder / "fresh", "made", 0600));
  EXPECT_EQ(ReadText(folder / "fresh"), "made");

  EXPECT_FALSE(ReplaceFileDurably(folder / "missing/x", "y", 0600));
}

TEST(DurableFiles, SmallReadsAreBoundedAndOnlyOfRegularFiles) {
  TTempFolder folder;
  std::string content = "untouched";
  EXPECT_EQ(ReadSmallFile(folder / "none", 100, content), TSmallRead::srMissing);
  EXPECT_EQ(ReadSmallFile(folder.Path(), 100, content), TSmallRead::srNotRegular);
  WriteText(folder / "journal", std::string(101, 'x'));
  EXPECT_EQ(ReadSmallFile(folder / "journal", 100, content), TSmallRead::srTooLarge);
  WriteText(folder / "journal", "step=install\n");
  ASSERT_EQ(ReadSmallFile(folder / "journal", 100, content), TSmallRead::srRead);
  EXPECT_EQ(content, "step=install\n");
}

TEST(FolderOps, MovesNeverReplaceAndListingsAreInNameOrder) {
  TTempFolder folder;
  WriteText(folder / "b.dbf", "staged");
  WriteText(folder / "a.dbf", "customer's");
  ASSERT_TRUE(MakeFolder(folder / "snapshot"));
  EXPECT_FALSE(MakeFolder(folder / "snapshot"));

  EXPECT_FALSE(MoveNoReplace(folder / "b.dbf", folder / "a.dbf"));
  EXPECT_EQ(ReadText(folder / "a.dbf"), "customer's");
  EXPECT_EQ(ReadText(folder / "b.dbf"), "staged");
  EXPECT_TRUE(MoveNoReplace(folder / "a.dbf", folder / "snapshot/a.dbf"));
  EXPECT_TRUE(SyncFolder(folder.Path()));
  EXPECT_TRUE(SyncFile(folder / "b.dbf"));

  const auto entries = ListFolder(folder.Path());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Name, "b.dbf");
  EXPECT_EQ(entries[0].Kind, TEntryKind::ekFile);
  EXPECT_EQ(entries[1].Name, "snapshot");
  EXPECT_EQ(entries[1].Kind, TEntryKind::ekFolder);

  EXPECT_FALSE(RemoveEntry(folder / "snapshot")); // not empty
  EXPECT_TRUE(RemoveEntry(folder / "snapshot/a.dbf"));
  EXPECT_TRUE(RemoveEntry(folder / "snapshot"));
  EXPECT_TRUE(RemoveEntry(folder / "snapshot")); // already gone
}

TEST(FolderOps, OneLockHolderAtATime) {
  TTempFolder folder;
  {
    const TFolderLock first(folder.Path());
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(TFolderLock(folder.Path()).Held());
  }
  EXPECT_TRUE(TFolderLock(folder.Path()).Held());
}
