#pragma once

#include "FtpServer.h"
#include "IdComponent.h"
#include "IdFTP.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantari::test {

// A fresh temporary folder, removed with its content.
class TScratchDir {
public:
  TScratchDir();
  ~TScratchDir();
  TScratchDir(const TScratchDir &) = delete;
  TScratchDir &operator=(const TScratchDir &) = delete;
  std::string PathOf(const std::string &name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

inline std::string FileBytes(const std::string &path) {
  return TFtpServer::FileBytes(path);
}
inline void PutFile(const std::string &path, const std::string &bytes) {
  TFtpServer::PutFile(path, bytes);
}
// Host, port and the server's user.
// Points the client at a test server's address and login (plain or TLS server alike).
template <class TServer> void PointAt(TIdFTP &ftp, const TServer &server) {
  ftp.SetHost(server.Host());
  ftp.SetPort(server.Port());
  ftp.SetUsername(server.User());
  ftp.SetPassword(server.Password());
}
// Deterministic bytes that differ at every offset of interest.
std::string PatternBytes(size_t count, unsigned seed = 1);

// Records the work events a component raises, in order.
struct TWorkLog {
  struct TEntry {
    std::string Kind; // "begin", "work", "end"
    TWorkMode Mode;
    int32_t Value;
    TIdComponent *Sender;
  };
  std::vector<TEntry> Entries;

  void Attach(TIdComponent &component);
  std::vector<int32_t> Counts() const;
};

// A client and a scripted peer; Open() starts the script and logs in.
class TScriptedFtpTest : public ::testing::Test {
protected:
  void Open();
  // Closes the session and returns every line the client sent.
  std::vector<std::string> Finish();

  TScriptedPeer Peer;
  TIdFTP Ftp;
};

} // namespace vantari::test
