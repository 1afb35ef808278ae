// Damaged and hostile archives: nothing is trusted, nothing lands outside the folder.
#include "ArchiveFixture.h"

#include "ArchiveFormat.h"
#include "FileSystem.h"

#include <cstring>
#include <filesystem>

namespace vantari::test {
namespace {

class BackupDamage : public ArchiveTest {
protected:
  // Restore result, or the message of the failure raised.
  // rmExisting into an empty folder steps over every member.
  std::string Outcome(const std::string &archive, TRestoreMode mode = rmAll) {
    TBackupFile engine;
    engine.SetRestoreMode(mode);
    try {
      const bool ok = RestoreBytes(engine, archive, Path(mode == rmAll ? "out" : "empty"));
      return (ok ? "true " : "false ") + std::to_string(engine.ErrorCode());
    } catch (const Exception &e) {
      return e.Message();
    }
  }
  bool Sound(const std::string &archive) {
    TMemoryStream stream(std::vector<uint8_t>(archive.begin(), archive.end()));
    TBackupFile engine;
    engine.SetRestoreStream(&stream);
    return engine.Verify(":STREAM");
  }
  std::string Valid() {
    Write("src/a", std::string(20000, 'a'));
    Write("src/b", Random(20000, 5));
    TBackupFile engine;
    return PackToBytes(engine, {Path("src/*")});
  }
};

TEST_F(BackupDamage, UnreadableHeaderRaisesCannotReadArchive) {
  for (const std::string &archive :
       {std::string("\x01\x00", 2), TArchiveBytes().I32(-1).I32(0).I32(0).I32(0).Bytes,
        TArchiveBytes().I32(0x7FFFFFFF).I32(0).Bytes, TArchiveBytes().Text("t").I32(3).Bytes}) {
    TBackupFile engine;
    EXPECT_THROW(RestoreBytes(engine, archive, Path("out")), EBackupError);
    EXPECT_EQ(Outcome(archive), "Cannot read archive");
    EXPECT_FALSE(engine.Busy());
    EXPECT_FALSE(Sound(archive));
  }
}

TEST_F(BackupDamage, OversizedLengthsStopTheRun) {
  const auto member = [](int32_t block) {
    return TArchiveBytes().Header().Member("z:\\a").Magic().I32(block).Raw(std::string(20000, 'x'));
  };
  EXPECT_EQ(Outcome(member(16385).I32(0).I32(0).Bytes), "false 1");
  EXPECT_EQ(Outcome(member(-16385).I32(0).I32(0).Bytes), "false 1");
  EXPECT_EQ(Outcome(member(16385).Bytes, rmExisting), "Cannot read archive");
  EXPECT_EQ(Outcome(TArchiveBytes().Header().I32(0x7FFFFFF0).Raw("z:\\a").Bytes),
            "Stream read error");
  EXPECT_FALSE(Sound(member(16385).I32(0).I32(0).Bytes));
  EXPECT_EQ(Host.Texts("engine-error"), std::vector<std::string>(2, "Cannot read file"));
}

TEST_F(BackupDamage, BlocksThatDoNotInflateCleanlyAreCompressionErrors) {
  const std::string big = Deflate(std::string(16385, 'z'));
  const std::string cut = Deflate("hello there").substr(0, 6);
  const std::string trailing = Deflate("abc") + "junk";
  for (const std::string &stream : {big, cut, trailing, std::string("\x78\x01\xff\xff", 4)}) {
    const std::string archive = TArchiveBytes()
                                    .Header()
                                    .Member("z:\\a")
                                    .Magic()
                                    .I32(int32_t(stream.size()))
                                    .Raw(stream)
                                    .I32(0)
                                    .I32(0)
                                    .Bytes;
    EXPECT_EQ(Outcome(archive), "false 6");
    EXPECT_FALSE(Sound(archive));
  }
  EXPECT_EQ(Read(Path("out/a")).size(), 0u); // the last case produced nothing
  EXPECT_EQ(Host.Texts("engine-error"), std::vector<std::string>(4, "Compression error"));
}

TEST_F(BackupDamage, WrongMagicAndMissingEndMarker) {
  const std::string bad = TArchiveBytes().Header().Member("z:\\a").Raw("EC3\0").I32(0).I32(0).Bytes;
  EXPECT_EQ(Outcome(bad), "false 1");
  EXPECT_EQ(Outcome(bad, rmExisting), "Invalid archive type");
  // "EC2" followed by anything after its zero byte is accepted.
  const std::string loose = TArchiveBytes()
                                .Header()
                                .Member("z:\\a")
                                .Raw(std::string("EC2\0", 4))
                                .Stored("ab")
                                .I32(0)
                                .I32(0)
                                .Bytes;
  EXPECT_EQ(Outcome(loose), "true 0");
  const std::string open =
      TArchiveBytes().Header().Member("z:\\a").Magic().Stored("ab").I32(0).Bytes;
  EXPECT_EQ(Outcome(open), "Stream read error");
  EXPECT_FALSE(Sound(open));
}

TEST_F(BackupDamage, EveryTruncationFailsAndNoneCrashes) {
  const std::string archive = Valid();
  ASSERT_TRUE(Sound(archive));
  for (size_t size = 0; size < archive.size(); size += 7) {
    const std::string cut = archive.substr(0, size);
    EXPECT_FALSE(Sound(cut)) << size;
    EXPECT_NE(Outcome(cut).substr(0, 4), "true") << size;
  }
}

// The walk and a restore must agree on every archive one flipped byte away from a sound one.
TEST_F(BackupDamage, VerifyAgreesWithRestoreUnderSingleByteFlips) {
  const std::string archive = Valid();
  for (size_t at = 0; at < archive.size(); at += (at < 200 ? 1 : 97)) {
    std::string flipped = archive;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
#ifdef _WIN32
    // Windows writes no name with a control character or one of <>:"|?*: a restore cannot
    // create such a member, which is no damage the walk could see.
    const unsigned char c = static_cast<unsigned char>(flipped[at]);
    if (c < 0x20 || std::strchr("<>:\"|?*", c))
      continue;
#endif
    const bool restored = Outcome(flipped).substr(0, 4) == "true";
    EXPECT_EQ(Sound(flipped), restored) << "byte " << at;
  }
}

TEST_F(BackupDamage, NamesThatWouldLeaveTheFolderAreSteppedOver) {
  const std::vector<std::string> flat = {"z:\\dir\\", "z:\\dir\\..", "z:\\dir\\.", "c:", ".."};
  const std::vector<std::string> full = {"z:\\..\\..\\evil", "z:\\a/../../evil", "z:\\a\\..", "ab",
                                         std::string("z:\\a\\ok\0evil", 12)};
  for (bool fullPath : {false, true}) {
    TArchiveBytes bytes;
    bytes.Header();
    for (const auto &name : fullPath ? full : flat)
      bytes.Member(name).Magic().Stored("bad").I32(0);
    bytes.Member("z:\\a\\..\\..\\fine").Magic().Stored("fine").I32(0).I32(0);
    TBackupFile engine;
    engine.SetRestoreFullPath(fullPath);
    int offered = 0;
    engine.OnRestoreFile = [&](TBackupFile &, std::string &, int32_t, bool &) { ++offered; };
    ASSERT_TRUE(RestoreBytes(engine, bytes.Bytes, Path("out/in")));
    EXPECT_EQ(engine.UnsafeNames().size(), fullPath ? 6u : 5u);
    EXPECT_EQ(offered, fullPath ? 0 : 1);
    EXPECT_EQ(engine.FilesProcessed(), fullPath ? 0 : 1);
  }
  EXPECT_EQ(Read(Path("out/in/fine")), "fine");
  size_t entries = 0;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(Dir))
    entries += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(entries, 1u);
}

TEST_F(BackupDamage, FinalProgressComesBeforeTheErrorBox) {
  const std::string archive = TArchiveBytes()
                                  .Header("t", 0, 1)
                                  .Member("z:\\a")
                                  .Magic()
                                  .I32(5)
                                  .Raw("\x78\x01\xff\xff\xff")
                                  .I32(0)
                                  .I32(0)
                                  .Bytes;
  TBackupFile engine;
  std::vector<std::string> order;
  engine.OnProgress = [&](TBackupFile &, const std::string &file, TPercentage percent, bool &) {
    order.push_back(file + ":" + std::to_string(percent) + "/" + std::to_string(Host.Shown.size()));
  };
  EXPECT_FALSE(RestoreBytes(engine, archive, Path("out")));
  EXPECT_EQ(order, (std::vector<std::string>{Path("out/a") + ":100/0", ":100/0"}));
  EXPECT_EQ(Host.Texts("engine-error"), std::vector<std::string>{"Compression error"});
}

TEST_F(BackupDamage, ContinuationInsideAStreamIsDamage) {
  const std::string archive =
      TArchiveBytes().Header().Member("z:\\a").Magic().I32(0).Text("NEXT:DISK002").Bytes;
  EXPECT_EQ(Outcome(archive), "Cannot read archive");
  EXPECT_FALSE(Sound(archive));
}

// The engine that packed src/a before must not append the orphan segment to it.
TEST_F(BackupDamage, ContinuationBeforeAnyMemberIsDamage) {
  Write("src/a", "data");
  TBackupFile engine;
  PackToBytes(engine, {Path("src/a")});
  Write("v.bck", TArchiveBytes().Header().Text("NEXT:DISK002").Bytes);
  Write("v.002", TArchiveBytes().Magic().Stored("junk").I32(0).I32(0).Bytes);
  engine.OnNeedDisk = [](TBackupFile &, uint16_t, bool &) {};
  EXPECT_THROW(engine.Restore(Path("v.bck"), Path("out")), EBackupError);
  EXPECT_EQ(Read(Path("src/a")), "data");
  EXPECT_FALSE(engine.Verify(Path("v.bck")));
}

} // namespace
} // namespace vantari::test
