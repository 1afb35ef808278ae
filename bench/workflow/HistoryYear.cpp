// A year of nightly uploads on a simulated clock against a real FTP server on loopback
// (pyftpdlib), with the default schedule; prints the server's history as "vantari-cli history"
// shows it, and how many archives each night's thinning left.
// Usage: history_year [NIGHTS]    (default 365, the last night 2026-12-08 21:00 local time)
#include "FtpServer.h"
#include "IdFTP.h"
#include "SafeUpload.h"
#include "ServerHistory.h"
#include "TlsFtpServers.h"

#include <cstdio>
#include <fstream>
#include <string>

using namespace vantari;

int main(int argc, char **argv) {
  const int nights = argc > 1 ? std::stoi(argv[1]) : 365;
  test::TFtpServer server;
  TIdFTP ftp;
  ftp.SetHost(server.Host());
  ftp.SetPort(server.Port());
  ftp.SetUsername(server.User());
  ftp.SetPassword(server.Password());
  ftp.SetPassive(true);
  ftp.OpenSession(true, -1);
  test::TTempFolder local;
  const std::string archive = local.Path() + "/upload.bck";
  const std::time_t last = *ParseHistoryName("a", "a.20261208-210000");
  const int offset = LocalUtcOffset(last);
  THistoryPlan plan;
  plan.Schedule = THistorySchedule{};
  plan.UtcOffset = offset;
  size_t most = 0;
  for (int night = nights - 1; night >= 0; --night) {
    const std::time_t when = last - offset - static_cast<std::time_t>(night) * 86400;
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        << std::string(1000 + static_cast<size_t>(nights - night), 'x');
    SafeUpload(ftp, archive, "vantari.bck", plan);
    plan.ReplacedMade = when;
    most = std::max(most, ReadServerHistory(ftp, "vantari.bck", when).size());
  }
  for (const THistoryEntry &entry : ReadServerHistory(ftp, "vantari.bck", plan.ReplacedMade))
    std::printf("%s  %12lld  %s\n", HistoryTimeText(entry.Made, offset).c_str(),
                static_cast<long long>(entry.Size), entry.Name.c_str());
  std::printf("%d nights; at most %zu archives on the server after any night\n", nights, most);
  ftp.CloseSession();
  return 0;
}
