#include "Stream.h"
#include "Cp949.h"
#include "FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace vantari;

TEST(Streams, FileStreamTruncatesOnCreateAndReportsOpenFailures) {
  const auto dir = std::filesystem::temp_directory_path() / "vantari-stream-test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "a.bin").string();
  {
    TFileStream out(path, fmCreate);
    out.WriteBuffer("abcdef", 6);
  }
  {
    TFileStream out(path, fmCreate);
    out.WriteBuffer("xy", 2);
  }
  {
    TFileStream in(path, fmOpenRead); // closed before the folder goes: Windows holds open files
    EXPECT_EQ(in.Size(), 2);
    char buf[4] = {};
    EXPECT_THROW(in.ReadBuffer(buf, 3), EReadError);
  }
  EXPECT_THROW(TFileStream((dir / "missing").string(), fmOpenRead), EFOpenError);
  try {
    TFileStream((dir / "missing").string(), fmOpenRead);
  } catch (const Exception &e) {
    EXPECT_NE(e.Message().find("missing"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

// A failed write says why, by the system's code: the person is shown a full disk, a denied
// write and a file in use apart. The established message stays in front.
TEST(Streams, WriteFailuresKeepTheSystemsReason) {
  const auto writeFails = [](const std::string &path, unsigned mode) -> TOsResult {
    try {
      TFileStream out(path, mode);
      const std::string block(65536, 'x');
      for (int i = 0; i < 16; ++i)
        out.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
    } catch (const EStreamError &e) {
      if (dynamic_cast<const EWriteError *>(&e)) {
        EXPECT_EQ(e.Message().rfind("Stream write error: ", 0), 0u) << e.Message();
      }
      EXPECT_NE(e.Message().find(e.Cause().Text), std::string::npos);
      return e.Cause();
    }
    return {};
  };
#ifdef _WIN32
  const auto dir = std::filesystem::temp_directory_path() / "vantari-stream-cause";
  std::filesystem::create_directories(dir);
  const std::string held = (dir / "Sale.DB").string(), locked = (dir / "Item.DB").string();
  {
    // A folder in the file's place is refused as a denied write (a read-only file is not,
    // to the root user Wine runs as).
    std::filesystem::create_directory(locked);
    const HANDLE holder = ::CreateFileW(std::filesystem::path(held).wstring().c_str(),
                                        GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeFails(held, fmOpenWrite).Kind(), TOsErrorKind::okInUse);
    EXPECT_EQ(writeFails(locked, fmOpenWrite).Kind(), TOsErrorKind::okDenied);
    ::CloseHandle(holder);
  }
  std::filesystem::remove_all(dir);
#else
  // A denied write needs a user that is not root; the tests run as root.
  EXPECT_EQ(writeFails("/dev/full", fmOpenWrite).Kind(), TOsErrorKind::okDiskFull);
#endif
}

TEST(Streams, MemoryStreamGrowsAndTruncates) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  s.SetPosition(3);
  s.WriteBuffer("p!", 2);
  s.WriteBuffer("?", 1);
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), "help!?");
  s.SetSize(2);
  EXPECT_EQ(s.Position(), 2);
  EXPECT_EQ(s.Size(), 2);
}

TEST(CodePage, HangulRoundTripsAndUnconvertibleBytesSurvive) {
  const std::string hangul = "\xEC\x9E\x90\xEB\xA3\x8C"; // "자료" in UTF-8
  const std::string cp949 = Utf8ToCp949(hangul);
  EXPECT_EQ(cp949, "\xC0\xDA\xB7\xE1");
  EXPECT_EQ(Cp949ToUtf8(cp949), hangul);
  EXPECT_EQ(Utf8ToCp949("kim.bck"), "kim.bck");
  const std::string broken = "\xFF\xFE";
  EXPECT_EQ(Utf8ToCp949(broken), broken);
}
