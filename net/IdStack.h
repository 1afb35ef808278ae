#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

class TIdTimeout;

// Windows Sockets error codes; every OS failure is reported as one of these.
enum : int32_t {
  Id_WSAEINTR = 10004,
  Id_WSAEBADF = 10009,
  Id_WSAEACCES = 10013,
  Id_WSAEFAULT = 10014,
  Id_WSAEINVAL = 10022,
  Id_WSAEMFILE = 10024,
  Id_WSAEWOULDBLOCK = 10035,
  Id_WSAEINPROGRESS = 10036,
  Id_WSAEALREADY = 10037,
  Id_WSAENOTSOCK = 10038,
  Id_WSAEDESTADDRREQ = 10039,
  Id_WSAEMSGSIZE = 10040,
  Id_WSAEPROTOTYPE = 10041,
  Id_WSAENOPROTOOPT = 10042,
  Id_WSAEPROTONOSUPPORT = 10043,
  Id_WSAESOCKTNOSUPPORT = 10044,
  Id_WSAEOPNOTSUPP = 10045,
  Id_WSAEPFNOSUPPORT = 10046,
  Id_WSAEAFNOSUPPORT = 10047,
  Id_WSAEADDRINUSE = 10048,
  Id_WSAEADDRNOTAVAIL = 10049,
  Id_WSAENETDOWN = 10050,
  Id_WSAENETUNREACH = 10051,
  Id_WSAENETRESET = 10052,
  Id_WSAECONNABORTED = 10053,
  Id_WSAECONNRESET = 10054,
  Id_WSAENOBUFS = 10055,
  Id_WSAEISCONN = 10056,
  Id_WSAENOTCONN = 10057,
  Id_WSAESHUTDOWN = 10058,
  Id_WSAETOOMANYREFS = 10059,
  Id_WSAETIMEDOUT = 10060,
  Id_WSAECONNREFUSED = 10061,
  Id_WSAELOOP = 10062,
  Id_WSAENAMETOOLONG = 10063,
  Id_WSAEHOSTDOWN = 10064,
  Id_WSAEHOSTUNREACH = 10065,
  Id_WSAENOTEMPTY = 10066,
  Id_WSAHOST_NOT_FOUND = 11001,
};

// Socket types, protocols and options as the stack's callers pass them (the OS values).
constexpr int32_t Id_AF_INET = 2;
constexpr int32_t Id_SOCK_STREAM = 1;
constexpr int32_t Id_SOCK_DGRAM = 2;
constexpr int32_t Id_SOCK_RAW = 3;
constexpr int32_t Id_IPPROTO_IP = 0;
constexpr int32_t Id_IPPROTO_ICMP = 1;
constexpr int32_t Id_IPPROTO_TCP = 6;
constexpr int32_t Id_IP_TTL = 2;
constexpr int32_t Id_TCP_NODELAY = 1;
constexpr int32_t Id_SOL_SOCKET = 1;
constexpr int32_t Id_SO_REUSEADDR = 2;

using TIdStackSocketHandle = int; // -1 = no socket
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int32_t Id_SOCKET_ERROR = -1;

// The process-wide socket layer: one wrapper per OS socket call, IPv4 address
// conversion, host lookup, and OS errors turned into EIdSocketError.
// Every wrapper returns the OS result (-1 on failure) and leaves the failure's
// Windows Sockets code for WSAGetLastError; none raises unless it says so.
class TIdStack {
public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack &) = delete;
  TIdStack &operator=(const TIdStack &) = delete;

  // Blocks until a connection arrives; gives the peer's dotted address and port.
  virtual TIdStackSocketHandle Accept(TIdStackSocketHandle s, std::string &ip, int32_t &port) = 0;
  // Empty ip means any address.
  virtual int32_t Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) = 0;
  virtual int32_t CloseSocket(TIdStackSocketHandle s) = 0;
  // Blocking connect; -1 with 10060 when the limit passes first.
  virtual int32_t Connect(TIdStackSocketHandle s, const std::string &ip, int32_t port,
                          TIdTimeout timeout) = 0;
  // First IPv4 address of the name as dotted text; raises EIdSocketError (11001) when none,
  // (10060) when no answer comes within 30 s.
  virtual std::string GetHostByName(const std::string &name) = 0;
  virtual int32_t Listen(TIdStackSocketHandle s, int32_t backlog) = 0;
  virtual int32_t Recv(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags) = 0;
  virtual int32_t RecvFrom(TIdStackSocketHandle s, void *buf, int32_t len, int32_t flags,
                           std::string &ip, int32_t &port) = 0;
  // Receives one datagram and tells who sent it and with which IPv4 time-to-live
  // (needs the receive-TTL option on the socket; ttl 0 when the OS gave none).
  virtual int32_t RecvDatagram(TIdStackSocketHandle s, void *buf, int32_t len, std::string &ip,
                               uint8_t &ttl) = 0;
  // Takes one queued ICMP error report (IP_RECVERR on the socket, never blocks): the
  // bytes that were sent, the ICMP type and code, the reporting router and the TTL of
  // its message (0 when not given). -1 with 10035 when nothing is queued.
  virtual int32_t RecvErrorReport(TIdStackSocketHandle s, void *buf, int32_t len, uint8_t &type,
                                  uint8_t &code, std::string &reporter, uint8_t &ttl) = 0;
  // Waits until s is readable: 1 readable, 0 time-out, -1 error; through IdWait, so the
  // host UI repaints and a cancel request raises EIdCancelled.
  virtual int32_t Select(TIdStackSocketHandle s, TIdTimeout timeout) = 0;
  // Never raises SIGPIPE: a closed peer gives -1 with 10058 or 10054. Blocks until some
  // bytes are taken; -1 with 10060 when no room opens within the limit.
  virtual int32_t Send(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                       TIdTimeout timeout) = 0;
  virtual int32_t SendTo(TIdStackSocketHandle s, const void *buf, int32_t len, int32_t flags,
                         const std::string &ip, int32_t port) = 0;
  virtual int32_t SetSockOpt(TIdStackSocketHandle s, int32_t level, int32_t name, const void *value,
                             int32_t len) = 0;
  virtual TIdStackSocketHandle Socket(int32_t family, int32_t type, int32_t protocol) = 0;
  virtual int32_t Shutdown(TIdStackSocketHandle s, int32_t how) = 0;
  // Text of a Windows Sockets code; empty for a code outside the known set.
  virtual std::string ErrorText(int32_t code);
  // Windows Sockets code of the calling thread's last failed call.
  virtual int32_t WSAGetLastError() = 0;
  // Both raise EIdSocketError when the OS call fails.
  virtual void GetPeerName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                           int32_t &port) = 0;
  virtual void GetSockName(TIdStackSocketHandle s, int32_t &family, std::string &ip,
                           int32_t &port) = 0;

  static uint16_t HToNS(uint16_t v);
  static uint16_t NToHS(uint16_t v);
  static uint32_t HToNL(uint32_t v);
  static uint32_t NToHL(uint32_t v);

  // "a.b.c.d" from the four bytes (network order).
  static std::string AddressToText(const uint8_t address[4]);
  // Four bytes (network order, first part first) from dotted text, low 8 bits of each part;
  // raises EConvertError on a non-numeric part.
  static uint32_t TextToAddress(const std::string &text);
  // Four parts, each a decimal 0..255.
  static bool IsDottedQuad(const std::string &text);

  // "LOCALHOST" (any case) and dotted quads without an OS call, else GetHostByName.
  std::string LookupHost(const std::string &host);
  // An AF_INET socket; raises EIdInvalidSocket when the OS refuses it.
  TIdStackSocketHandle OpenSocketId(int32_t type, int32_t protocol);
  // False when result is not -1; else fetches the code into LastErrorCode and returns
  // true when it is tolerated, or raises EIdSocketError.
  bool CheckResult(int32_t result, std::initializer_list<int32_t> tolerated = {});
  [[noreturn]] void RaiseError(int32_t code);

  int32_t LastErrorCode() const { return FLastErrorCode; }

private:
  int32_t FLastErrorCode = 0;
};

// The process-wide stack; exists while at least one TIdComponent lives.
TIdStack &SharedStack();
bool HasSharedStack();

// Which stack the first component creates (the system's own unless replaced, e.g. by a test).
using TIdStackFactory = std::function<std::unique_ptr<TIdStack>()>;
void SetStackClass(TIdStackFactory factory);
std::unique_ptr<TIdStack> CreateStack();
// The stack of the system the program is built for (defined by that system's stack).
std::unique_ptr<TIdStack> CreateSystemStack();

} // namespace vantari
