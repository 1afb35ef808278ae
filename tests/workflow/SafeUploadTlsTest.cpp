// The safe upload (temporary name, size check, versions rotated by renaming) and a download
// proven to continue and resumed with REST into its .part file, over TLS against pyftpdlib and
// vsftpd (which insists that every data connection resumes the login's TLS session), in both
// modes and with more data connections than the login brought TLS 1.3 tickets.
#include "IdFTP.h"
#include "SafeUpload.h"
#include "TlsFtpServers.h"
#include "TlsSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vantari::test {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void Put(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Pattern(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  uint32_t state = seed * 2654435761u + 1;
  for (char &c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

struct TServerView {
  std::string Host;
  int Port;
  std::string User;
  std::string Password;
  std::string Fingerprint;
  std::string Remote; // the archive's remote name
  std::string Folder; // where that name lands on disk
};

// Two safe uploads, then a download cut off earlier proven to continue and resumed into its
// .part file.
void UploadTwiceAndResume(const TServerView &server, bool passive, int version) {
  TIdFTP ftp;
  ftp.SetHost(server.Host);
  ftp.SetPort(server.Port);
  ftp.SetUsername(server.User);
  ftp.SetPassword(server.Password);
  ftp.SetPassive(passive);
  ftp.SetTlsPolicy(tpRequired);
  ftp.TlsOptions().MinVersion = ftp.TlsOptions().MaxVersion = version;
  const std::string fingerprint = server.Fingerprint;
  ftp.OnTlsPeer = [fingerprint](TIdFTP *, const TTlsSession &session) {
    return session.PeerFingerprint() == fingerprint;
  };
  TTempFolder local;
  const std::string first = Pattern(400000, 1);
  // Larger than loopback's buffers: a check gives up a transfer the server is still sending.
  const std::string second = Pattern(4000037, 2);
  Put(local.Path() + "/first.bck", first);
  Put(local.Path() + "/second.bck", second);
  const std::string onDisk = server.Folder + "/" + fs::path(server.Remote).filename().string();

  ftp.OpenSession(true, -1);
  SafeUpload(ftp, local.Path() + "/first.bck", server.Remote);
  SafeUpload(ftp, local.Path() + "/second.bck", server.Remote);
  EXPECT_TRUE(Bytes(onDisk) == second);
  EXPECT_TRUE(Bytes(onDisk + ".1") == first);
  EXPECT_FALSE(fs::exists(onDisk + ".new"));

  // The part is proven to begin this file (its first and last 64 KiB, each read and given
  // up midway) before REST continues it; another archive's beginning is not.
  const std::string part = local.Path() + "/member.bck.part";
  const size_t have = 200001, window = 65536;
  Put(part, second.substr(0, have));
  EXPECT_FALSE(ServerFileHolds(ftp, server.Remote, 0, first.substr(0, window)));
  EXPECT_TRUE(ServerFileHolds(ftp, server.Remote, 0, second.substr(0, window)));
  EXPECT_TRUE(
      ServerFileHolds(ftp, server.Remote, have - window, second.substr(have - window, window)));
  int64_t moved = 0; // what the resumed transfer counted (its last bytes go uncounted)
  ftp.OnWork = [&moved](TIdComponent *, TWorkMode mode, int32_t count) {
    if (mode == wmRead)
      moved = count;
  };
  ftp.DownloadFile(server.Remote, part, false, true, static_cast<int64_t>(second.size()));
  ftp.OnWork = nullptr;
  EXPECT_GT(moved, 0);
  EXPECT_LE(moved, static_cast<int64_t>(second.size() - have)) << "downloaded from the start";
  EXPECT_TRUE(Bytes(part) == second);
  // A whole download after it: the seventh data connection of the session.
  ftp.DownloadFile(server.Remote + ".1", local.Path() + "/first.in", true, false,
                   static_cast<int64_t>(first.size()));
  EXPECT_TRUE(Bytes(local.Path() + "/first.in") == first);
  ftp.CloseSession();
}

struct TCase {
  const char *Name;
  bool Passive;
  int Version;
};
#ifdef _WIN32
// Wine's SChannel has no TLS 1.3 and resumes no session: TLS 1.2 against a server that lets
// every data connection start afresh.
const TCase kCases[] = {{"active TLSv1.2", false, TlsVersion12},
                        {"passive TLSv1.2", true, TlsVersion12}};
constexpr bool SessionsResume = false;
#else
const TCase kCases[] = {{"active TLSv1.2", false, TlsVersion12},
                        {"passive TLSv1.2", true, TlsVersion12},
                        {"active TLSv1.3", false, TlsVersion13},
                        {"passive TLSv1.3", true, TlsVersion13}};
constexpr bool SessionsResume = true;
#endif

TEST(SafeUploadTls, PyftpdlibRotatesVersionsAndResumesByteForByte) {
  for (const TCase &c : kCases) {
    SCOPED_TRACE(c.Name);
    TTlsFtpServerOptions options;
    options.RequireReuse = SessionsResume; // then a data connection that does not is refused
    TPyTlsFtpServer server(options);
    UploadTwiceAndResume({server.Host(), server.Port(), server.User(), server.Password(),
                          server.Certificate().Fingerprint, "member.bck", server.Home()},
                         c.Passive, c.Version);
    EXPECT_EQ(server.ResumedDataConnections(), SessionsResume ? 7 : 0);
  }
}

TEST(SafeUploadTls, VsftpdRotatesVersionsAndResumesByteForByte) {
  const std::string skip = TVsftpdServer::SkipReason();
  if (!skip.empty())
    GTEST_SKIP() << skip;
  for (const TCase &c : kCases) {
    SCOPED_TRACE(c.Name);
    TVsftpdServer server;
    try {
      UploadTwiceAndResume({server.Host(), server.Port(), server.User(), server.Password(),
                            server.Certificate().Fingerprint, "pub/member.bck", server.Pub()},
                           c.Passive, c.Version);
    } catch (const std::exception &e) {
      ADD_FAILURE() << e.what() << "\n" << server.Log();
    }
    EXPECT_EQ(server.ResumedDataConnections(), 7) << server.Log();
  }
}

} // namespace
} // namespace vantari::test
