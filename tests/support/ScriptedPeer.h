#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantari::test {

// A TCP peer on 127.0.0.1 that plays a fixed script to the one client that
// connects: for replies and misbehaviour a real server will not produce.
// Build the script, then Start(); Finish() waits for its end and returns the
// lines the client sent. Every wait is bounded.
class TScriptedPeer {
public:
  TScriptedPeer();
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer &) = delete;
  TScriptedPeer &operator=(const TScriptedPeer &) = delete;

  int Port() const { return FPort; }

  // Sends bytes as they are.
  TScriptedPeer &Send(const std::string &bytes);
  // Sends a line followed by CR LF.
  TScriptedPeer &Reply(const std::string &line);
  // Reads one line from the client; it must begin with the given text.
  TScriptedPeer &Expect(const std::string &start);
  // Connects to the address of the client's last PORT command, sends the bytes
  // and closes that connection.
  TScriptedPeer &ConnectData(const std::string &bytes);
  // Listens for a passive data connection and announces it with 227, the address
  // in parentheses or, without them, as the last word of the line. named is the host
  // part the reply names ("h1,h2,h3,h4"); the peer listens on 127.0.0.1 whatever it says.
  TScriptedPeer &ReplyPassive(bool parentheses, const std::string &named = "127,0,0,1");
  // Listens likewise and announces it with 229 (extended passive mode).
  TScriptedPeer &ReplyExtendedPassive();
  // Accepts the client's passive data connection, sends the bytes and then nothing more,
  // holding the connection open until the client drops it.
  TScriptedPeer &AcceptDataAndStall(const std::string &bytes);
  // Accepts the client's passive data connection and never reads from it, holding it open
  // until the client drops it: an upload that cannot move.
  TScriptedPeer &AcceptDataWithoutReading();
  // Accepts the client's passive data connection and keeps what arrives until the
  // client closes it (see Uploaded).
  TScriptedPeer &AcceptUpload();
  // Connects from another local address (e.g. 127.0.0.2) to the client's last PORT
  // address and offers the bytes; records whether the client closed that connection
  // without reading it through (see IntruderRefused).
  TScriptedPeer &ConnectDataFrom(const std::string &sourceIp, const std::string &bytes);
  // Drops the client's control connection and takes the client's next one (a reconnect).
  TScriptedPeer &AcceptNextClient();
  // Sends the bytes one at a time, pausing between them.
  TScriptedPeer &Trickle(const std::string &bytes, int pauseMs);
  // Accepts the client's passive data connection, sends the bytes and closes it.
  TScriptedPeer &AcceptData(const std::string &bytes);
  TScriptedPeer &Pause(int ms);
  // Closes the control connection (ends the script).
  TScriptedPeer &Close();
  // Aborts the control connection with a reset instead of an orderly close (ends the script).
  TScriptedPeer &Reset();

  // The usual greeting and login: 220, USER/331, PASS/230, TYPE I/200, SYST/215.
  TScriptedPeer &Login();

  void Start();
  // Waits for the script to end and, unless it closed, for the client to close;
  // returns every line the client sent.
  std::vector<std::string> Finish();
  // Empty when the client did everything the script expected.
  std::string Failure() const;
  // What AcceptUpload received.
  std::string Uploaded() const;
  // Whether the client closed the connection ConnectDataFrom made.
  bool IntruderRefused() const;

private:
  void Run();
  void Fail(const std::string &why);
  bool ReadLine(std::string &line, int timeoutMs);
  void SendAll(int fd, const std::string &bytes);
  void OpenDataConnection(const std::string &bytes, const std::string &sourceIp = "");
  int ConnectToClientPort(const std::string &sourceIp);
  int AcceptPassive();

  int FListenFd = -1;
  int FDataListenFd = -1;
  int FClientFd = -1;
  int FPort = 0;
  std::vector<std::function<bool()>> FSteps;
  std::string FPending; // received bytes not yet split into lines
  std::string FLastPort;
  std::vector<std::string> FReceived;
  std::string FUploaded;
  bool FIntruderRefused = false;
  std::string FFailure;
  mutable std::mutex FMutex;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

} // namespace vantari::test
