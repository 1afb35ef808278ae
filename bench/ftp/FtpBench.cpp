// Moves one file to or from an FTP server with TIdFTP and prints the wall time,
// the throughput and the CPU time this process spent:
//   ftp_bench up|down active|passive HOST PORT USER PASS LOCAL REMOTE RECV SEND [tls]
// RECV/SEND 0 keep the component defaults. With "tls" the session must run over TLS and takes
// the server's certificate as it is (the benchmark's own server on loopback).
#include "IdFTP.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>

namespace {

double CpuSeconds(const timeval &t) {
  return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 11 && !(argc == 12 && std::string(argv[11]) == "tls")) {
    std::fprintf(stderr,
                 "usage: %s up|down active|passive HOST PORT USER PASS LOCAL REMOTE RECV SEND "
                 "[tls]\n",
                 argv[0]);
    return 2;
  }
  const std::string direction = argv[1];
  vantari::TIdFTP ftp;
  ftp.SetPassive(std::string(argv[2]) == "passive");
  ftp.SetHost(argv[3]);
  ftp.SetPort(std::atoi(argv[4]));
  ftp.SetUsername(argv[5]);
  ftp.SetPassword(argv[6]);
  if (argc == 12) {
    ftp.SetTlsPolicy(vantari::tpRequired);
    ftp.OnTlsPeer = [](vantari::TIdFTP *, const vantari::TTlsSession &) { return true; };
  }
  if (std::atoi(argv[9]) > 0)
    ftp.SetRecvBufferSize(std::atoi(argv[9]));
  if (std::atoi(argv[10]) > 0)
    ftp.SetSendBufferSize(std::atoi(argv[10]));
  long long bytes = 0;
  ftp.OnWorkBegin = [&](vantari::TIdComponent *, vantari::TWorkMode, int32_t) { bytes = 0; };
  ftp.OnWork = [&](vantari::TIdComponent *, vantari::TWorkMode, int32_t count) { bytes = count; };
  try {
    ftp.OpenSession(true, -1);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    if (direction == "up")
      ftp.UploadFile(argv[7], argv[8], false);
    else
      ftp.DownloadFile(argv[8], argv[7], true, false);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    ftp.CloseSession();
    const double user = CpuSeconds(after.ru_utime) - CpuSeconds(before.ru_utime);
    const double sys = CpuSeconds(after.ru_stime) - CpuSeconds(before.ru_stime);
    std::printf("seconds=%.3f user=%.3f sys=%.3f last_work_count=%lld\n", seconds, user, sys,
                bytes);
  } catch (const vantari::Exception &e) {
    std::fprintf(stderr, "failed: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
