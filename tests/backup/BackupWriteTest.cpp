// Backing up: the bytes written, mask expansion, file-ID list, progress and volumes.
#include "ArchiveFixture.h"

#include "ArchiveFormat.h"
#include "ArchiveWalk.h"
#include "FileSystem.h"

#include "BlockDeflater.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <zlib.h>

namespace vantari::test {
namespace {

using Bytes = std::string;

struct TBlock {
  int32_t Length;
  Bytes Data;
};

// The blocks of the first member's first segment.
std::vector<TBlock> FirstMemberBlockData(const Bytes &archive) {
  auto i32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<uint8_t>(archive.at(at + i));
    return static_cast<int32_t>(v);
  };
  size_t at = 4 + i32(0) + 8;
  at += 4 + i32(at) + 4 + 4; // name, date, magic
  std::vector<TBlock> blocks;
  for (int32_t length = i32(at); length != 0; length = i32(at)) {
    const size_t size = static_cast<size_t>(length < 0 ? -length : length);
    blocks.push_back({length, archive.substr(at + 4, size)});
    at += 4 + size;
  }
  return blocks;
}

std::vector<int32_t> FirstMemberBlocks(const Bytes &archive) {
  std::vector<int32_t> lengths;
  for (const auto &block : FirstMemberBlockData(archive))
    lengths.push_back(block.Length);
  return lengths;
}

// What the system's zlib makes of a block: exactly one stream (a 32 KiB window, no
// dictionary) that ends with the block; nullopt for anything else.
std::optional<Bytes> InflateBlock(const Bytes &block) {
  z_stream s{};
  if (inflateInit2(&s, 15) != Z_OK)
    return std::nullopt;
  Bytes out(archive::kChunkSize, '\0');
  s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.data()));
  s.avail_in = static_cast<uInt>(block.size());
  s.next_out = reinterpret_cast<Bytef *>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&s, Z_FINISH);
  out.resize(s.total_out);
  const bool whole = result == Z_STREAM_END && s.avail_in == 0;
  inflateEnd(&s);
  if (!whole || static_cast<uint8_t>(block[0]) != 0x78)
    return std::nullopt;
  return out;
}

std::vector<std::string> MemberNames(const std::string &path) {
  std::vector<std::string> names;
  TArchiveWalk walk;
  walk.OnMember = [&](const TArchiveMember &m) { names.push_back(m.Name); };
  EXPECT_TRUE(walk.Run(path)) << walk.Failure();
  return names;
}

class BackupWrite : public ArchiveTest {};

// The documented example: the same framing from either compressor, and a block that any
// zlib inflates to the three letters. zlib writes the documented stream itself; libdeflate
// writes a shorter chunk as a stored-mode stream, just as valid.
TEST_F(BackupWrite, WritesTheWorkedExample) {
  Write("a.txt", "abc");
  ASSERT_TRUE(FileSetDate(Path("a.txt"), 0x5A216000)); // 2025-01-01 12:00:00
  TBackupFile engine;
  engine.SetBackupTitle("t");
  const Bytes name = archive::MemberName(Path("a.txt"));
  const Bytes archive = PackToBytes(engine, {Path("a.txt")});
  const auto blocks = FirstMemberBlockData(archive);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(InflateBlock(blocks[0].Data), "abc");
  const Bytes expected = TArchiveBytes()
                             .Header("t", 3, 1)
                             .Member(name, 0x5A216000)
                             .Magic()
                             .I32(blocks[0].Length)
                             .Raw(blocks[0].Data)
                             .I32(0)
                             .I32(0)
                             .Bytes;
  EXPECT_EQ(archive, expected);
  // The Windows path names its own drive; a POSIX path is given the drive Wine maps to '/'.
#ifdef _WIN32
  EXPECT_EQ(name, Shown("a.txt"));
#else
  EXPECT_EQ(name.substr(0, 3), "z:\\");
#endif
  if (std::strcmp(TBlockDeflater::LibraryName(), "zlib") == 0) {
    EXPECT_EQ(blocks[0].Data, Bytes("\x78\x01\x4b\x4c\x4a\x06\x00\x02\x4d\x01\x27", 11));
  }
}

TEST_F(BackupWrite, EmptySelectionGivesHeaderAndEndMarker) {
  TBackupFile engine;
  engine.SetBackupTitle("title");
  EXPECT_EQ(PackToBytes(engine, {}), TArchiveBytes().Header("title", 0, 0).I32(0).Bytes);
  EXPECT_EQ(PackToBytes(engine, {Path("*.none")}).size(), 16u + 5);
}

TEST_F(BackupWrite, CutsContentIntoChunksOfOneBlockEach) {
  TBackupFile engine;
  Write("f", "");
  EXPECT_TRUE(FirstMemberBlocks(PackToBytes(engine, {Path("f")})).empty());
  Write("f", Bytes(16384, 'x'));
  EXPECT_EQ(FirstMemberBlocks(PackToBytes(engine, {Path("f")})).size(), 1u);
  Write("f", Bytes(16385, 'x'));
  const auto blocks = FirstMemberBlocks(PackToBytes(engine, {Path("f")}));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_GT(blocks[0], 0);
  EXPECT_LT(blocks[0], 1000);
  Write("f", Random(16384, 1) + Bytes(16384, 'a'));
  const auto mixed = FirstMemberBlocks(PackToBytes(engine, {Path("f")}));
  EXPECT_EQ(mixed, (std::vector<int32_t>{-16384, mixed[1]}));
  EXPECT_GT(mixed[1], 0);
}

TEST_F(BackupWrite, LevelNoneStoresFullChunksRawAndShortOnesAsStoredStreams) {
  TBackupFile engine;
  engine.SetCompressionLevel(clNone);
  Write("f", Bytes(16384 + 5, 'a'));
  const auto blocks = FirstMemberBlocks(PackToBytes(engine, {Path("f")}));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], -16384);
  EXPECT_EQ(blocks[1], static_cast<int32_t>(Deflate("aaaaa", 0).size()));
}

// At every level each block is one zlib stream that the system's zlib inflates to its chunk,
// and a chunk whose stream would not fit is stored as its raw bytes.
TEST_F(BackupWrite, EveryBlockInflatesWithZlibToItsChunkOrIsTheRawChunk) {
  std::vector<Bytes> chunks;
  for (int i = 0; i < 5; ++i)
    chunks.push_back((i % 3 == 1) ? Random(16384, i)
                                  : Bytes(16380, static_cast<char>('a' + i)) + "tail");
  chunks.push_back("end");
  Bytes content;
  for (const auto &chunk : chunks)
    content += chunk;
  Write("f", content);
  for (TCompressionLevel level : {clFastest, clNone, clDefault, clMax}) {
    TBackupFile engine;
    engine.SetCompressionLevel(level);
    const auto blocks = FirstMemberBlockData(PackToBytes(engine, {Path("f")}));
    ASSERT_EQ(blocks.size(), chunks.size()) << int(level);
    for (size_t i = 0; i < chunks.size(); ++i) {
      // Random bytes never fit, nor any full chunk without compression.
      const bool stored = i % 3 == 1 || (level == clNone && i + 1 < chunks.size());
      EXPECT_EQ(blocks[i].Length < 0, stored) << int(level) << " chunk " << i;
      EXPECT_EQ(stored ? std::optional<Bytes>(blocks[i].Data) : InflateBlock(blocks[i].Data),
                chunks[i])
          << int(level) << " chunk " << i;
    }
  }
}

TEST_F(BackupWrite, RecursiveMaskListsSubfoldersFirstAndPacksEachFileOnce) {
  Write("tree/b/x.dbf", "b");
  Write("tree/a/deep/x.dbf", "ad");
  Write("tree/a/x.dbf", "a");
  Write("tree/x.dbf", "top");
  Write("tree/.hidden.dbf", "h");
  Write("tree/.cache/x.dbf", "hidden folder");
  Write("tree/X.DBF.txt", "other");
  TBackupFile engine;
  const std::string archive = Path("tree/x.bck");
  ASSERT_TRUE(
      engine.Backup({Path("tree/*.dbf /S"), Path("tree/x.dbf"), Path("tree/*.*")}, archive));
  std::vector<std::string> expected;
  for (const char *name :
       {"a/deep/x.dbf", "a/x.dbf", "b/x.dbf", ".hidden.dbf", "x.dbf", "X.DBF.txt"})
    expected.push_back(archive::MemberName(Path("tree/") + name));
  EXPECT_EQ(MemberNames(archive), expected); // the archive itself is never packed
  EXPECT_EQ(engine.FileCount(), 6);
  EXPECT_EQ(engine.FilesProcessed(), 6);
}

TEST_F(BackupWrite, IncrementalPacksOnlyFilesChangedSinceTheirFlagWasCleared) {
  TBackupFile engine;
  engine.SetBackupMode(bmIncremental);
  EXPECT_TRUE(engine.SetArchiveFlag());
  engine.SetBackupMode(bmAll);
  EXPECT_TRUE(engine.SetArchiveFlag());
  engine.SetBackupMode(bmIncremental);
  Write("d/one", "1");
  Write("d/two", "2");
  ASSERT_TRUE(engine.Backup({Path("d/*")}, Path("1.bck")));
  EXPECT_EQ(MemberNames(Path("1.bck")).size(), 2u);
  if (!ArchiveFlagsKept())
    return;
  ASSERT_TRUE(engine.Backup({Path("d/*")}, Path("2.bck")));
  EXPECT_TRUE(MemberNames(Path("2.bck")).empty());
  Write("d/two", "changed");
  ASSERT_TRUE(engine.Backup({Path("d/*")}, Path("3.bck")));
  EXPECT_EQ(MemberNames(Path("3.bck")),
            std::vector<std::string>{archive::MemberName(Path("d/two"))});
}

// Points the program's temporary folder at path (empty: back to the default).
void SetTempFolder(const std::string &path) {
#ifdef _WIN32
  ::_putenv_s("TMP", path.c_str()); // where GetTempPathW looks first
#else
  if (path.empty())
    ::unsetenv("TMPDIR");
  else
    ::setenv("TMPDIR", path.c_str(), 1);
#endif
}

TEST_F(BackupWrite, FileIdListComesFirstAndItsTemporaryFileIsRemoved) {
  SetTempFolder(Path("tmp"));
  ASSERT_TRUE(ForceDirectories(Path("tmp")));
  Write("d/a", "12345");
  ASSERT_TRUE(FileSetDate(Path("d/a"), 0x5A216000));
  TBackupFile engine;
  engine.SetSaveFileID(true);
  std::vector<std::string> names;
  TArchiveWalk walk;
  walk.OnMember = [&](const TArchiveMember &m) { names.push_back(m.Name); };
  ASSERT_TRUE(engine.Backup({Path("d/*"), Path("d/missing")}, Path("f.bck")));
  ASSERT_TRUE(walk.Run(Path("f.bck")));
  const std::string line = archive::MemberName(Path("d/a")) + "\t1512136704=5\r\n";
  EXPECT_EQ(names, (std::vector<std::string>{"FILE:LIST", archive::MemberName(Path("d/a"))}));
  EXPECT_EQ(walk.FileCount(), 1);
  EXPECT_EQ(walk.TotalSize(), static_cast<int32_t>(5 + line.size()));
  EXPECT_EQ(engine.FilesProcessed(), 1);
  EXPECT_TRUE(FindFiles(Path("tmp/*"), faAnyFile).empty());
  SetTempFolder(Path("missing"));
  EXPECT_FALSE(engine.Backup({Path("d/*")}, Path("g.bck")));
  EXPECT_EQ(engine.ErrorCode(), 7);
  EXPECT_EQ(Host.Texts("engine-error"),
            std::vector<std::string>{"Cannot create temporary file to save the file IDs"});
  SetTempFolder("");
}

TEST_F(BackupWrite, ProgressRunsFromZeroToHundredRoundingTiesToEven) {
  Write("p/1", "x");
  Write("p/2", Bytes(199, 'y'));
  TBackupFile engine;
  std::vector<std::pair<std::string, int>> seen;
  engine.OnProgress = [&](TBackupFile &, const std::string &file, TPercentage percent, bool &) {
    seen.emplace_back(file, percent);
  };
  PackToBytes(engine, {Path("p/*")});
  const decltype(seen) expected = {{"", 0}, {Shown("p/1"), 0}, {Shown("p/2"), 100}, {"", 100}};
  EXPECT_EQ(seen, expected); // 100 * 1 / 200 = 0.5 rounds to 0
  EXPECT_GE(Host.MessagePumps, 2);
}

TEST_F(BackupWrite, SourceThatShrinksOrGrowsWhilePackedEndsItsMemberCleanly) {
  const Bytes first = Random(600000, 3);
  Write("s/1", first);
  Write("s/2", Bytes(40000, 'g'));
  Write("s/3", "next");
  TBackupFile engine;
  engine.SetSetArchiveFlag(true);
  engine.OnProgress = [&](TBackupFile &e, const std::string &file, TPercentage, bool &) {
    if (file == Shown("s/1"))
      std::filesystem::resize_file(file, 16384);
    if (file == Shown("s/2"))
      std::ofstream(file, std::ios::app) << Bytes(50000, 'h');
    (void)e;
  };
  ASSERT_TRUE(engine.Backup({Path("s/*")}, Path("s.bck")));
  std::vector<int64_t> sizes;
  TArchiveWalk walk;
  walk.OnMember = [&](const TArchiveMember &m) { sizes.push_back(m.Size); };
  ASSERT_TRUE(walk.Run(Path("s.bck"))) << walk.Failure();
  // The packer reads ahead a few chunks: the cut source's member holds what was read
  // before the cut, whole chunks, and ends there.
  ASSERT_EQ(sizes.size(), 3u);
  EXPECT_EQ(sizes[0] % 16384, 0);
  EXPECT_GE(sizes[0], 16384);
  EXPECT_LT(sizes[0], 600000);
  EXPECT_EQ(sizes[1], 40000);
  EXPECT_EQ(sizes[2], 4);
  EXPECT_TRUE(FileHasArchiveAttr(Path("s/1")));
  // Only the file packed whole loses its flag; the grown one goes into the next run.
  EXPECT_TRUE(FileHasArchiveAttr(Path("s/2")));
  if (ArchiveFlagsKept()) {
    EXPECT_FALSE(FileHasArchiveAttr(Path("s/3")));
  }
}

TEST_F(BackupWrite, SplitsIntoVolumesBelowMaxSize) {
  Write("big", Random(3000000, 7));
  TBackupFile engine;
  engine.SetMaxSize(1400000);
  std::vector<int> disks;
  engine.OnNeedDisk = [&](TBackupFile &, uint16_t disk, bool &) { disks.push_back(disk); };
  ASSERT_TRUE(engine.Backup({Path("big")}, Path("v.bck")));
  EXPECT_EQ(disks, (std::vector<int>{2, 3}));
  for (const char *name : {"v.bck", "v.002", "v.003"}) {
    EXPECT_GT(FileSize(Path(name)), 0) << name;
    EXPECT_LT(FileSize(Path(name)), 1400000) << name;
  }
  const Bytes first = Read(Path("v.bck"));
  EXPECT_EQ(first.substr(first.size() - 20), TArchiveBytes().I32(0).Text("NEXT:DISK002").Bytes);
  EXPECT_EQ(Read(Path("v.002")).substr(0, 4), Bytes("EC2\0", 4));
  EXPECT_FALSE(FileExists(Path("v.004")));
}

TEST_F(BackupWrite, VolumePromptShowsDiskNumbersAndCancelStopsQuietly) {
  Write("big", Random(3000000, 8));
  TBackupFile engine;
  engine.SetMaxSize(1400000);
  ASSERT_TRUE(engine.Backup({Path("big")}, Path("v.bck")));
  EXPECT_EQ(Host.Texts("volume"),
            (std::vector<std::string>{"Please insert disk 2 and click OK to continue.",
                                      "Please insert disk 3 and click OK to continue."}));
  std::filesystem::remove(Path("v.002"));
  Host.Shown.clear();
  Host.VolumeAnswers = {false};
  EXPECT_FALSE(engine.Backup({Path("big")}, Path("v.bck")));
  EXPECT_EQ(engine.ErrorCode(), 0);
  EXPECT_FALSE(FileExists(Path("v.002")));
  EXPECT_TRUE(Host.Texts("engine-error").empty());
  const Bytes first = Read(Path("v.bck"));
  EXPECT_EQ(first.substr(first.size() - 12), "NEXT:DISK002");
}

TEST_F(BackupWrite, ArchiveThatCannotBeCreatedReportsAfterTheLastProgress) {
  Write("a", "a");
  TBackupFile engine;
  std::vector<int> percents;
  size_t shownAtHundred = 99;
  engine.OnProgress = [&](TBackupFile &, const std::string &, TPercentage percent, bool &) {
    percents.push_back(percent);
    if (percent == 100)
      shownAtHundred = Host.Shown.size();
  };
  EXPECT_FALSE(engine.Backup({Path("a")}, Path("no/such/folder/x.bck")));
  EXPECT_EQ(engine.ErrorCode(), 4);
  EXPECT_EQ(shownAtHundred, 0u);
  EXPECT_EQ(Host.Texts("engine-error"), std::vector<std::string>{"Cannot write to archive"});
  EXPECT_FALSE(engine.Busy());
  std::string reported;
  engine.OnError = [&](TBackupFile &, int32_t code, const std::string &text) {
    reported = std::to_string(code) + text;
  };
  EXPECT_FALSE(engine.Backup({Path("a")}, Path("no/such/folder/x.bck")));
  EXPECT_EQ(reported, "4Cannot write to archive");
  EXPECT_EQ(Host.Texts("engine-error").size(), 1u);
}

} // namespace
} // namespace vantari::test
