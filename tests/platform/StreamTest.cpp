#include "Stream.h"
#include "Cp949.h"

#include <gtest/gtest.h>

#include <filesystem>

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
