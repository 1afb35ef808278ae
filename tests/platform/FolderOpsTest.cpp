#include "FolderOps.h"
#include "DurableFile.h"
#include "FileSystem.h"
#include "TempFolder.h"
#include "WindowsNames.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#endif

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

// Failures carry the system's code and its own words, told apart by the code alone.
TEST(FolderOps, FailuresKeepTheSystemsReason) {
  TTempFolder folder;
  WriteText(folder / "a.dbf", "customer's");
  ASSERT_TRUE(MakeFolder(folder / "snapshot"));
  WriteText(folder / "snapshot/b.dbf", "kept");
  const TOsResult results[] = {
      MakeFolder(folder / "snapshot"),
      MoveNoReplace(folder / "snapshot/b.dbf", folder / "a.dbf"),
      RemoveEntry(folder / "snapshot"),
      MoveReplacing(folder / "none", folder / "a.dbf"),
      CopyEntry(folder / "a.dbf", folder / "snapshot/b.dbf"),
      CreateFileDurably(folder / "a.dbf", "other", 0600),
      ReplaceFileDurably(folder / "missing/x", "y", 0600),
  };
  for (const TOsResult &result : results) {
    EXPECT_FALSE(result);
    EXPECT_NE(result.Code, 0);
    EXPECT_NE(result.Code, -1) << "a code of the system's";
    EXPECT_FALSE(result.Text.empty());
  }
  EXPECT_EQ(results[3].Kind(), TOsErrorKind::okMissing);
  EXPECT_EQ(results[6].Kind(), TOsErrorKind::okMissing);
  EXPECT_EQ(ReadText(folder / "a.dbf"), "customer's");
  EXPECT_EQ(ReadText(folder / "snapshot/b.dbf"), "kept");
}

// The local archive is replaced by a new download; a copy is a new file with the old date.
TEST(FolderOps, MoveReplacingAndCopyKeepWhatTheySay) {
  TTempFolder folder;
  WriteText(folder / "vantari.bck", "last download");
  WriteText(folder / "vantari.bck.part", "new download");
  ASSERT_TRUE(MoveReplacing(folder / "vantari.bck.part", folder / "vantari.bck"));
  EXPECT_EQ(ReadText(folder / "vantari.bck"), "new download");
  EXPECT_FALSE(EntryKindOf(folder / "vantari.bck.part"));

  ASSERT_TRUE(FileSetDate(folder / "vantari.bck", 0x4A216000)); // 2017-01-01 12:00
  ASSERT_TRUE(CopyEntry(folder / "vantari.bck", folder / "copy.bck"));
  EXPECT_EQ(ReadText(folder / "copy.bck"), "new download");
  EXPECT_EQ(FileGetDate(folder / "copy.bck"), 0x4A216000);
  EXPECT_EQ(EntryKindOf(folder / "copy.bck"), TEntryKind::ekFile);
  EXPECT_EQ(EntryKindOf(folder.Path()), TEntryKind::ekFolder);
}

// A tree goes whole, in one bounded pass, never through a link; on Windows also a name the
// system trims (a trailing dot or blank), which a Linux computer may have packed.
TEST(FolderOps, RemoveTreeRemovesEverythingBelowButNothingALinkLeadsTo) {
  TTempFolder folder, outside;
  WriteText(outside / "Price.DB", "another folder's prices");
  const std::string staging = folder / "staging";
  ASSERT_TRUE(MakeFolder(staging));
  ASSERT_TRUE(MakeFolder(staging + "/sub"));
  WriteText(staging + "/sub/Item.DB", "staged");
  WriteText(staging + "/Sale.DB", "staged");
  ASSERT_TRUE(FileSetReadOnly(staging + "/Sale.DB", true));
  std::vector<std::string> odd = {"Item.DB.", "Item.DB "};
#ifdef _WIN32
  for (const std::string &name : odd) {
    const std::wstring path = L"\\\\?\\" +
                              std::filesystem::path(staging).make_preferred().wstring() + L"\\" +
                              std::wstring(name.begin(), name.end());
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
    ::CloseHandle(file);
  }
#else
  for (const std::string &name : odd)
    WriteText(staging + "/" + name, "a Linux name");
  std::filesystem::create_directory_symlink(outside.Path(), staging + "/link");
#endif
  const TOsResult removed = RemoveTree(staging);
  EXPECT_TRUE(removed) << removed.Text;
  EXPECT_FALSE(EntryKindOf(staging));
  EXPECT_EQ(ReadText(outside / "Price.DB"), "another folder's prices");
  EXPECT_TRUE(RemoveTree(staging)) << "nothing there is nothing left";
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

// The names Windows cannot hold, as one rule on every system.
TEST(WindowsNames, NamesWindowsCannotHoldAreToldApart) {
  const struct {
    const char *Name;
    TNameProblem Problem;
  } cases[] = {
      {"Item.DB", TNameProblem::npNone},
      {"\xEC\x9E\x90\xEB\xA3\x8C.DB", TNameProblem::npNone}, // Hangul
      {"CONSOLE.DB", TNameProblem::npNone},
      {"COM0.DB", TNameProblem::npNone},
      {".DB", TNameProblem::npNone},
      {"Item.DB.", TNameProblem::npTrailingDotOrBlank},
      {"Item.DB ", TNameProblem::npTrailingDotOrBlank},
      {"CON.DB", TNameProblem::npDeviceName},
      {"nul", TNameProblem::npDeviceName},
      {"Com1.DB", TNameProblem::npDeviceName},
      {"LPT9", TNameProblem::npDeviceName},
      {"AUX .txt", TNameProblem::npDeviceName},
      {"prn.tar.gz", TNameProblem::npDeviceName},
      {"Item?.DB", TNameProblem::npBadCharacter},
      {"a:b", TNameProblem::npBadCharacter},
      {"tab\there", TNameProblem::npBadCharacter},
      {"Item\xFF.DB", TNameProblem::npNotInCodePage},
      {"\xC0\xAF", TNameProblem::npNotInCodePage}, // an overlong '/'
  };
  for (const auto &test : cases) {
    SCOPED_TRACE(test.Name);
    EXPECT_EQ(WindowsNameProblem(test.Name), test.Problem);
  }
  TWindowsNameSet set;
  EXPECT_EQ(set.Add("Item.DB"), TNameProblem::npNone);
  EXPECT_EQ(set.Add("Sale.DB"), TNameProblem::npNone);
  EXPECT_EQ(set.Add("ITEM.db"), TNameProblem::npCollides);
  EXPECT_EQ(set.Add("Item\xFE.DB"), TNameProblem::npNotInCodePage);
  EXPECT_EQ(set.Add("CON.DB"), TNameProblem::npDeviceName);
}
