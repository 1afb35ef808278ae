#include "Cp949.h"
#include "DosDate.h"
#include "Exception.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "Paths.h"
#include "Stream.h"
#include "TempFolder.h"
#include "UserRegistry.h"

#include <gtest/gtest.h>

#include <windows.h>
#undef DeleteFile // the program's own, not the system's

using namespace vantari;
using vantari::test::ReadText;
using vantari::test::TTempFolder;
using vantari::test::WriteText;

namespace {

// Wine derives the archive attribute from the file's type: every file carries it there.
bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const wchar_t *const DatabaseKey = L"Software\\Corvex\\LumoraBC\\Database";

// The accounting program's key in this Wine prefix's HKCU, removed afterwards.
class Registry : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, DatabaseKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &FKey, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegDeleteValueW(FKey, L"DefaultDatabase");
    ::RegCloseKey(FKey);
  }
  void SetString(const std::wstring &value) {
    ASSERT_EQ(::RegSetValueExW(FKey, L"DefaultDatabase", 0, REG_SZ,
                               reinterpret_cast<const BYTE *>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  HKEY FKey = nullptr;
};

} // namespace

TEST_F(Registry, DataFolderIsReadFromTheRealRegistry) {
  TUserRegistry registry;
  ASSERT_TRUE(registry.OpenKey("Software\\Corvex\\LumoraBC\\Database", false));
  EXPECT_EQ(registry.ReadString("DefaultDatabase"), "");

  SetString(L"C:\\\uB370\uC774\uD130\\"); // "C:\데이터\"
  EXPECT_EQ(registry.ReadString("DefaultDatabase"), "C:\\\xEB\x8D\xB0\xEC\x9D\xB4\xED\x84\xB0\\");

  const DWORD number = 7;
  ASSERT_EQ(::RegSetValueExW(FKey, L"DefaultDatabase", 0, REG_DWORD,
                             reinterpret_cast<const BYTE *>(&number), sizeof number),
            ERROR_SUCCESS);
  try {
    registry.ReadString("DefaultDatabase");
    ADD_FAILURE() << "a number read as text";
  } catch (const Exception &error) {
    EXPECT_STREQ(error.what(), "Invalid data type for 'DefaultDatabase'");
  }
}

TEST(WindowsFiles, AttributesArchiveFlagAndDatesAreTheFileSystems) {
  TTempFolder folder;
  WriteText(folder / "sale.dbf", "table");
  WriteText(folder / "hidden.dbf", "table");
  ASSERT_TRUE(::SetFileAttributesW(std::filesystem::path(folder / "hidden.dbf").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN));

  const auto plain = FindFiles(folder / "*.DBF", 0);
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].Name, "sale.dbf");
  EXPECT_EQ(FindFiles(folder / "*.dbf", faHidden).size(), 2u);

  EXPECT_TRUE(FileHasArchiveAttr(folder / "sale.dbf")); // a new file is to be backed up
  ASSERT_TRUE(FileClearArchiveAttr(folder / "sale.dbf"));
  if (!UnderWine()) {
    EXPECT_FALSE(FileGetAttr(folder / "sale.dbf") & faArchive);
  }

  const int32_t date = EncodeFileDate(2021, 3, 4, 5, 6, 8);
  ASSERT_TRUE(FileSetDate(folder / "sale.dbf", date));
  EXPECT_EQ(FileGetDate(folder / "sale.dbf"), date);
  EXPECT_EQ(FindFiles(folder / "sale.dbf", 0).at(0).Time, date);

  ASSERT_TRUE(FileSetReadOnly(folder / "sale.dbf", true));
  EXPECT_FALSE(DeleteFile(folder / "sale.dbf"));
  ASSERT_TRUE(FileSetReadOnly(folder / "sale.dbf", false));
  EXPECT_TRUE(DeleteFile(folder / "sale.dbf"));
}

TEST(WindowsFiles, ATableHeldOpenCountsAsInUse) {
  TTempFolder folder;
  WriteText(folder / "sale.dbf", "table");
  EXPECT_FALSE(AnyFileInUse(folder.Path()));
  {
    TFileStream held(folder / "sale.dbf", fmOpenReadWrite); // as the accounting program holds it
    EXPECT_TRUE(AnyFileInUse(folder.Path()));
  }
  EXPECT_FALSE(AnyFileInUse(folder.Path()));
}

TEST(WindowsFolders, SettingsLiveInAppDataAndTheOldFileIsTakenOverOnce) {
  TTempFolder appData;
  wchar_t before[MAX_PATH] = {};
  const bool had = ::GetEnvironmentVariableW(L"APPDATA", before, MAX_PATH) > 0;
  ASSERT_TRUE(::SetEnvironmentVariableW(L"APPDATA", std::filesystem::path(appData.Path()).c_str()));
  const std::string old = ProgramFolder() + "FtpHost.ini";
  WriteText(old, "[Server]\nHOSTID=kim\n");
  const std::string folder = ConfigFolder();
  EXPECT_EQ(folder, appData.Path() + "/Vantari/");
  EXPECT_EQ(ReadText(folder + "FtpHost.ini"), "[Server]\nHOSTID=kim\n");

  WriteText(folder + "FtpHost.ini", "[Server]\nHOSTID=lee\n");
  ConfigFolder();
  EXPECT_EQ(ReadText(folder + "FtpHost.ini"), "[Server]\nHOSTID=lee\n"); // taken over once
  std::filesystem::remove(old);
  ::SetEnvironmentVariableW(L"APPDATA", had ? before : nullptr);
}
