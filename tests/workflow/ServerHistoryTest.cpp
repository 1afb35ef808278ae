// The server's dated history: the schedule, the names, and a run of dated uploads against real
// servers (pyftpdlib listing with MLSD and with NLST, vsftpd), refusals included; and the
// upload guard's verdicts.
#include "ServerHistory.h"
#include "FtpServer.h"
#include "IdFTP.h"
#include "SafeUpload.h"
#include "TlsFtpServers.h"
#include "UploadGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

std::time_t At(const std::string &stamp) {
  const auto t = ParseHistoryName("a", "a." + stamp);
  EXPECT_TRUE(t.has_value()) << stamp;
  return t.value_or(0);
}

struct TScheduleCase {
  const char *Name;
  THistorySchedule Schedule;
  int UtcOffset;
  std::vector<std::string> Uploads; // "YYYYMMDD-HHMMSS", UTC
  std::set<std::string> Kept;
};

TEST(ServerHistory, ScheduleKeepsTheLastOfEachDayWeekAndMonth) {
  const TScheduleCase cases[] = {
      {"days that had an upload, the last of each",
       {3, 0, 0},
       0,
       {"20261201-090000", "20261201-180000", "20261203-100000", "20261207-080000",
        "20261207-220000", "20261208-070000"},
       {"20261208-070000", "20261207-220000", "20261203-100000"}},
      // 2026-12-07 is a Monday: the Sunday before it ends the week before.
      {"weeks from Monday to Sunday",
       {0, 2, 0},
       0,
       {"20261129-100000", "20261130-100000", "20261205-100000", "20261206-230000",
        "20261207-010000"},
       {"20261207-010000", "20261206-230000"}},
      {"calendar months, only those that had one",
       {0, 0, 3},
       0,
       {"20260615-120000", "20260930-235959", "20261001-000000", "20261015-000000",
        "20261208-000000"},
       {"20261208-000000", "20261015-000000", "20260930-235959"}},
      {"one archive may stand for a day, a week and a month",
       {1, 1, 1},
       0,
       {"20261208-080000", "20261208-090000"},
       {"20261208-090000"}},
      // 15:00 UTC is midnight in Seoul: the same two uploads fall on two days there.
      {"days are the local clock's",
       {2, 0, 0},
       9 * 3600,
       {"20261207-140000", "20261207-160000", "20261207-100000"},
       {"20261207-160000", "20261207-140000"}},
      {"days of UTC for the same uploads",
       {2, 0, 0},
       0,
       {"20261207-140000", "20261207-160000", "20261206-100000"},
       {"20261207-160000", "20261206-100000"}},
      {"off keeps nothing", {0, 0, 0}, 0, {"20261207-140000"}, {}},
  };
  for (const TScheduleCase &c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::time_t> times;
    for (const std::string &stamp : c.Uploads)
      times.push_back(At(stamp));
    const std::vector<bool> keep = HistoryKeeps(times, c.Schedule, c.UtcOffset);
    std::set<std::string> kept;
    for (size_t i = 0; i < keep.size(); ++i)
      if (keep[i])
        kept.insert(c.Uploads[i]);
    EXPECT_EQ(kept, c.Kept);
  }
}

TEST(ServerHistory, OnlyItsOwnDatedNamesAreTakenForHistory) {
  EXPECT_EQ(HistoryName("pub/vantari.bck", At("20261208-213005")),
            "pub/vantari.bck.20261208-213005");
  const std::pair<const char *, bool> names[] = {{"vantari.bck.20261208-213005", true},
                                                 {"vantari.bck.20240229-000000", true},
                                                 {"vantari.bck", false},
                                                 {"vantari.bck.new", false},
                                                 {"vantari.bck.1", false},
                                                 {"vantari.bck.20261308-000000", false},
                                                 {"vantari.bck.20250229-000000", false},
                                                 {"vantari.bck.20261231-240000", false},
                                                 {"vantari.bck.20261208-213005.txt", false},
                                                 {"other.bck.20261208-213005", false},
                                                 {"vantari.bck.2026120-82130050", false},
                                                 {"Vantari.bck.20261208-213005", false},
                                                 {"vantari.bck.+2026120-213005", false}};
  for (const auto &[name, ours] : names)
    EXPECT_EQ(ParseHistoryName("pub/vantari.bck", name).has_value(), ours) << name;
}

// A server folder seen from the disk: every file's bytes by name.
std::map<std::string, std::string> FolderFiles(const std::string &folder) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file())
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[entry.path().filename().string()] = bytes.str();
  }
  return files;
}

void Put(const fs::path &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void SetModified(const fs::path &path, std::time_t when) {
  const auto now = std::chrono::system_clock::now();
  const auto wanted = std::chrono::system_clock::from_time_t(when);
  fs::last_write_time(path, fs::file_time_type::clock::now() + (wanted - now));
}

struct TServerView {
  std::string Host;
  int Port;
  std::string User;
  std::string Password;
  std::string Remote; // the archive's remote name
  std::string Folder; // where the remote folder lies on disk
};

TIdFTP &Login(TIdFTP &ftp, const TServerView &server) {
  ftp.SetHost(server.Host);
  ftp.SetPort(server.Port);
  ftp.SetUsername(server.User);
  ftp.SetPassword(server.Password);
  ftp.SetPassive(true);
  ftp.OpenSession(true, -1);
  return ftp;
}

// Nightly uploads at 21:00 UTC from 2026-11-01 to 2026-12-08 and one more at 22:00, over the
// two numbered versions of before and files of others: exactly the schedule's archives stay,
// each with the bytes of its upload, and nothing else is touched.
void RunDatedUploads(const TServerView &server) {
  TIdFTP ftp;
  Login(ftp, server);
  const fs::path folder = server.Folder;
  const std::string base = fs::path(server.Remote).filename().string();
  const std::map<std::string, std::string> others = {
      {"notes.txt", "not ours"},
      {base + ".20261130-000000.txt", "not ours either"},
      {"other.bck.20261101-000000", "another user's"},
      {base + ".20261332-000000", "no such day"}};
  for (const auto &[name, bytes] : others)
    Put(folder / name, bytes);
  fs::create_directory(folder / (base + ".20261001-000000"));
  Put(folder / (base + ".2"), "numbered two");
  SetModified(folder / (base + ".2"), At("20260920-120000"));
  Put(folder / (base + ".1"), "numbered one");
  SetModified(folder / (base + ".1"), At("20261015-120000"));

  TTempFolder local;
  const std::string archive = local.Path() + "/upload.bck";
  std::map<std::string, std::string> made; // upload time -> bytes
  std::vector<std::time_t> uploads;
  for (std::time_t day = At("20261101-210000"); day <= At("20261208-210000"); day += 86400)
    uploads.push_back(day);
  uploads.push_back(At("20261208-220000"));
  THistoryPlan plan;
  plan.Schedule = {7, 4, 6};
  for (const std::time_t when : uploads) {
    const std::string bytes = "archive of " + HistoryName("", when);
    Put(archive, bytes);
    SafeUpload(ftp, archive, server.Remote, plan);
    made[HistoryName(base, when)] = bytes;
    plan.ReplacedMade = when;
  }
  std::map<std::string, std::string> expected = others;
  expected[base] = made[HistoryName(base, uploads.back())];
  for (const char *stamp :
       {"20261208-210000", "20261207-210000", "20261206-210000", "20261205-210000",
        "20261204-210000", "20261203-210000", "20261202-210000", "20261130-210000",
        "20261129-210000", "20261122-210000"})
    expected[base + "." + stamp] = made[base + "." + stamp];
  expected[base + ".20261015-120000"] = "numbered one";
  expected[base + ".20260920-120000"] = "numbered two";
  EXPECT_EQ(FolderFiles(server.Folder), expected);
  EXPECT_TRUE(fs::is_directory(folder / (base + ".20261001-000000")));

  // Listed newest first, the archive itself at the top.
  const std::vector<THistoryEntry> history = ReadServerHistory(ftp, server.Remote, uploads.back());
  std::string names;
  for (const THistoryEntry &entry : history)
    names += entry.Name + "\n";
  ASSERT_EQ(history.size(), 13u) << names;
  EXPECT_TRUE(history.front().Current);
  EXPECT_EQ(history[1].Name, HistoryName(server.Remote, At("20261208-210000")));
  EXPECT_EQ(history[1].Size,
            static_cast<int64_t>(made[HistoryName(base, At("20261208-210000"))].size()));
  EXPECT_EQ(history.back().Made, At("20260920-120000"));
  EXPECT_EQ(ArchiveOfDay(history, "2026-11-25", 0)->Name,
            HistoryName(server.Remote, At("20261122-210000")));
  EXPECT_EQ(ArchiveOfDay(history, "2026-09-19", 0), nullptr);

  // Cut off between its renames, an upload leaves its own file and the one it moved aside.
  fs::remove(folder / base);
  Put(folder / (base + ".new"), "checked, not yet in place");
  EXPECT_EQ(StrandedArchives(ftp, server.Remote),
            (std::vector<std::string>{UploadTemporaryName(server.Remote),
                                      HistoryName(server.Remote, At("20261208-210000"))}));
  ftp.CloseSession();
}

TEST(ServerHistory, DatedUploadsLeaveExactlyTheScheduleAndNothingElseIsTouched) {
  for (const bool machineListing : {true, false}) {
    SCOPED_TRACE(machineListing ? "MLSD" : "NLST");
    TFtpServerOptions options; // each way of listing where the other is refused
    options.DisabledCommands = machineListing ? std::vector<std::string>{"NLST"}
                                              : std::vector<std::string>{"MLSD", "MLST"};
    TFtpServer server(options);
    RunDatedUploads({server.Host(), server.Port(), server.User(), server.Password(), "vantari.bck",
                     server.Home()});
  }
#ifndef _WIN32
  if (TVsftpdServer::SkipReason().empty()) {
    SCOPED_TRACE("vsftpd");
    TVsftpdServer server({}, {}, false);
    try {
      RunDatedUploads({server.Host(), server.Port(), server.User(), server.Password(),
                       "pub/vantari.bck", server.Pub()});
    } catch (const std::exception &e) {
      ADD_FAILURE() << e.what() << "\n" << server.Log();
    }
  }
#endif
}

// A server that refuses renaming, deleting or listing costs the history, never the upload.
TEST(ServerHistory, RefusalsCostTheHistoryNeverTheUpload) {
  struct TCase {
    const char *Name;
    std::string Permissions;
    std::vector<std::string> Disabled;
    size_t HistoryLeft; // dated archives after three uploads a day apart
  };
  const TCase cases[] = {{"no renaming", "elradmwMT", {}, 0},
                         {"no deleting", "elrafmwMT", {}, 2},
                         {"no listing", "elradfmwMT", {"MLSD", "MLST", "NLST"}, 2}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TFtpServerOptions options;
    options.Permissions = c.Permissions;
    options.DisabledCommands = c.Disabled;
    TFtpServer server(options);
    TIdFTP ftp;
    Login(ftp, {server.Host(), server.Port(), server.User(), server.Password(), "", ""});
    TTempFolder local;
    const std::string archive = local.Path() + "/upload.bck";
    THistoryPlan plan;
    plan.Schedule = {1, 0, 0}; // one kept: the older one is due to go
    for (int i = 0; i < 3; ++i) {
      Put(archive, "upload " + std::to_string(i));
      plan.ReplacedMade = At("20261206-210000") + i * 86400;
      SafeUpload(ftp, archive, "vantari.bck", plan);
    }
    ftp.CloseSession();
    const auto files = FolderFiles(server.Home());
    EXPECT_EQ(files.at("vantari.bck"), "upload 2");
    EXPECT_EQ(files.count("vantari.bck.new"), 0u);
    EXPECT_EQ(files.size(), 1 + c.HistoryLeft);
  }
}

TEST(UploadGuard, VerdictsOnTheTablesOfTwoUploads) {
  // Shares measured on the demo data and the bench corpus: record tables store 8-30 % of
  // their size, random index and memo files 100.2 %.
  const std::vector<TTableStat> before = {
      {"Sale.DB", 400000, 60000},   {"SaleItem.DB", 400000, 70000}, {"Item.DB", 90000, 20000},
      {"Bankbook.DB", 30000, 7000}, {"Item.IDX", 8000, 8020},       {"Note.DB", 2000, 900}};
  const auto with = [&](auto change) {
    std::vector<TTableStat> tables = before;
    change(tables);
    return tables;
  };
  const auto scramble = [](TTableStat &t) { t.Packed = t.Size + t.Size / 400; };
  struct TCase {
    const char *Name;
    std::vector<TTableStat> Previous, Current;
    bool Suspicious;
    std::vector<std::string> Named;
  };
  const TCase cases[] = {
      {"the first upload has nothing to compare with",
       {},
       with([&](auto &t) {
         for (auto &x : t)
           scramble(x);
       }),
       false,
       {}},
      {"a month of ordinary work",
       before,
       with([](auto &t) {
         for (auto &x : t)
           x.Size += x.Size / 12, x.Packed += x.Packed / 12;
       }),
       false,
       {}},
      {"new tables",
       before,
       with([](auto &t) {
         t.push_back({"Quote.DB", 50000, 9000});
         t.push_back({"Quote.IDX", 5000, 5010});
       }),
       false,
       {}},
      {"a year-end clean-up",
       before,
       with([](auto &t) {
         for (auto &x : t)
           x.Size /= 3, x.Packed /= 3;
         t.erase(t.begin() + 3); // Bankbook.DB gone
       }),
       false,
       {}},
      {"one large table scrambled", before, with([&](auto &t) { scramble(t[0]); }), false, {}},
      {"random bytes over every table",
       before,
       with([&](auto &t) {
         for (auto &x : t)
           scramble(x);
       }),
       true,
       {"Sale.DB", "SaleItem.DB", "Item.DB", "Bankbook.DB"}},
      {"the two large tables scrambled",
       before,
       with([&](auto &t) {
         scramble(t[0]);
         scramble(t[1]);
       }),
       true,
       {"Sale.DB", "SaleItem.DB"}},
      {"an extension added to every table",
       before,
       with([](auto &t) {
         for (auto &x : t)
           x.Name += ".locked", x.Packed = x.Size + 40;
       }),
       true,
       {"Sale.DB", "SaleItem.DB", "Item.DB", "Bankbook.DB", "Item.IDX"}},
      {"the folder emptied to a fraction",
       before,
       with([](auto &t) {
         for (auto &x : t)
           x.Size /= 10, x.Packed /= 10;
       }),
       true,
       {"Sale.DB", "SaleItem.DB", "Item.DB", "Bankbook.DB", "Item.IDX", "Note.DB"}},
      {"letter case of a name is no rename",
       before,
       with([](auto &t) {
         for (auto &x : t)
           std::transform(x.Name.begin(), x.Name.end(), x.Name.begin(), ::toupper);
       }),
       false,
       {}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const TGuardVerdict verdict = WeighUpload(c.Previous, c.Current);
    EXPECT_EQ(verdict.Suspicious, c.Suspicious);
    if (c.Suspicious) {
      EXPECT_EQ(verdict.Tables, c.Named);
    }
  }
}

} // namespace
} // namespace vantari::test
