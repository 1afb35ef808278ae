#include "IdRawBase.h"

#include "IdException.h"
#include "IdWait.h"
#include "IdWaitPlatform.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantari {

namespace {

constexpr int32_t Ipv4HeaderSize = 20;
constexpr int32_t IcmpHeaderSize = 8;
constexpr uint8_t IcmpEchoReply = 0;
constexpr uint8_t IcmpDestinationUnreachable = 3;
constexpr uint8_t IcmpTimeExceeded = 11;

// The ICMP type and code a router would have sent for the echo service's status;
// false for silence (time-out) and the service's own failures.
bool ReportOfStatus(ULONG status, uint8_t &type, uint8_t &code) {
  switch (status) {
  case IP_DEST_NET_UNREACHABLE:
  case IP_DEST_HOST_UNREACHABLE:
  case IP_DEST_PROT_UNREACHABLE:
  case IP_DEST_PORT_UNREACHABLE:
    type = IcmpDestinationUnreachable;
    code = static_cast<uint8_t>(status - IP_DEST_NET_UNREACHABLE);
    return true;
  case IP_DEST_UNREACHABLE:
    type = IcmpDestinationUnreachable;
    code = 1; // host
    return true;
  case IP_TTL_EXPIRED_TRANSIT:
  case IP_TTL_EXPIRED_REASSEM:
    type = IcmpTimeExceeded;
    code = static_cast<uint8_t>(status - IP_TTL_EXPIRED_TRANSIT);
    return true;
  default:
    return false;
  }
}

// The Windows Sockets code of a request the echo service refused at once.
int32_t CodeOfRefusal(DWORD error) {
  switch (error) {
  case ERROR_NETWORK_UNREACHABLE:
  case IP_DEST_NET_UNREACHABLE:
    return Id_WSAENETUNREACH;
  case ERROR_HOST_UNREACHABLE:
  case IP_DEST_HOST_UNREACHABLE:
    return Id_WSAEHOSTUNREACH;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_INSUFFICIENT_BUFFER:
  case IP_NO_RESOURCES:
    return Id_WSAENOBUFS;
  default:
    return Id_WSAENETDOWN;
  }
}

} // namespace

// One echo request handed to the system's echo service. The service writes into Reply
// until Done is set, so a request still out (the wait was cancelled or gave up) is
// awaited before its buffer goes.
struct TIdRawBase::TEcho {
  TEcho() = default;
  ~TEcho() {
    Settle();
    if (Done)
      ::CloseHandle(Done);
    if (Service != INVALID_HANDLE_VALUE)
      ::IcmpCloseHandle(Service);
  }
  TEcho(const TEcho &) = delete;
  TEcho &operator=(const TEcho &) = delete;

  void Settle() {
    if (Pending)
      ::WaitForSingleObject(Done, Limit + 1000);
    Pending = false;
  }

  HANDLE Service = ::IcmpCreateFile();
  HANDLE Done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<uint8_t> Request; // the whole ICMP message as built, header first
  std::vector<uint8_t> Reply;
  DWORD Limit = 0;
  bool Pending = false;
};

TIdRawBase::TIdRawBase() : FRawHandle(std::make_unique<TIdSocketHandle>()), FBuffer(8192) {}

TIdRawBase::~TIdRawBase() = default;

void TIdRawBase::OpenSocket(TIdSocketHandle &handle) {
  handle.OpenSocket(Id_SOCK_RAW, FProtocol);
  FPingSocket = false;
}

TIdSocketHandle &TIdRawBase::RawHandle() {
  if (FProtocol == Id_IPPROTO_ICMP) {
    return *FRawHandle; // the echo service needs no socket of ours
  }
  if (!FRawHandle->HasSocket()) {
    OpenSocket(*FRawHandle);
  }
  FRawHandle->SetOption(Id_IPPROTO_IP, Id_IP_TTL, FSendTtl);
  return *FRawHandle;
}

void TIdRawBase::TransmitTo(const std::string &host, int32_t port, const void *buffer,
                            int32_t length) {
  const std::string ip = SharedStack().LookupHost(host);
  if (FProtocol != Id_IPPROTO_ICMP) {
    RawHandle().SendDatagram(ip, port, buffer, length);
    return;
  }
  if (length < IcmpHeaderSize) {
    throw EIdPackageSizeTooBig();
  }
  if (FEcho) {
    FEcho->Settle();
  } else {
    FEcho = std::make_unique<TEcho>();
  }
  TEcho &echo = *FEcho;
  if (echo.Service == INVALID_HANDLE_VALUE || echo.Done == nullptr) {
    throw EIdInvalidSocket();
  }
  const auto *bytes = static_cast<const uint8_t *>(buffer);
  echo.Request.assign(bytes, bytes + length);
  const int32_t dataSize = length - IcmpHeaderSize;
  // Room for one reply, an ICMP error's quote and the service's own status block.
  echo.Reply.assign(sizeof(ICMP_ECHO_REPLY) + static_cast<size_t>(dataSize) + IcmpHeaderSize + 64,
                    0);
  const int32_t limit = WaitLimit(-1);
  echo.Limit = limit > 0 ? static_cast<DWORD>(limit) : 1;
  IP_OPTION_INFORMATION options{};
  options.Ttl = static_cast<UCHAR>(std::clamp(FSendTtl, 1, 255));
  ::ResetEvent(echo.Done);
  const DWORD answered =
      ::IcmpSendEcho2(echo.Service, echo.Done, nullptr, nullptr, TIdStack::TextToAddress(ip),
                      echo.Request.data() + IcmpHeaderSize, static_cast<WORD>(dataSize), &options,
                      echo.Reply.data(), static_cast<DWORD>(echo.Reply.size()), echo.Limit);
  const DWORD error = ::GetLastError();
  if (answered == 0 && error != ERROR_IO_PENDING) {
    SharedStack().RaiseError(CodeOfRefusal(error));
  }
  echo.Pending = true;
}

int32_t TIdRawBase::ReceiveInto(uint8_t *buffer, int32_t length, int32_t timeout) {
  if (length <= 0 || buffer == nullptr) {
    return 0;
  }
  timeout = WaitLimit(timeout);
  if (FProtocol != Id_IPPROTO_ICMP) {
    TIdSocketHandle &handle = RawHandle();
    return handle.WaitReadable(timeout) ? handle.ReceiveBytes(buffer, length) : 0;
  }
  if (!FEcho || !FEcho->Pending) {
    return 0;
  }
  TEcho &echo = *FEcho;
  // The wait is the echo service's; it repaints and obeys cancel like the one wait.
  const TIdWaitResult ended = IdWaitInSlices(
      TIdDeadline(TIdTimeout::FromWaitMs(timeout)), [&echo](int64_t ms, TIdWaitResult &result) {
        result.First = ::WaitForSingleObject(echo.Done, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
        return result.First ? 1 : 0;
      });
  if (ended.TimedOut()) {
    return 0;
  }
  echo.Pending = false;
  ::IcmpParseReplies(echo.Reply.data(), static_cast<DWORD>(echo.Reply.size()));
  ICMP_ECHO_REPLY reply{};
  std::memcpy(&reply, echo.Reply.data(), sizeof reply);
  const std::string sender =
      TIdStack::AddressToText(reinterpret_cast<const uint8_t *>(&reply.Address));
  uint8_t type = 0;
  uint8_t code = 0;
  if (ReportOfStatus(reply.Status, type, code)) {
    return BuildErrorDatagram(buffer, length, type, code, sender, reply.Options.Ttl,
                              echo.Request.data(), static_cast<int32_t>(echo.Request.size()));
  }
  if (reply.Status != IP_SUCCESS) {
    return 0; // no answer in time: silence, as on a socket
  }
  // The answer as a raw socket gives it: IPv4 header, then our request's header turned
  // into a reply, then the data that came back.
  const int32_t dataSize =
      std::min<int32_t>(reply.DataSize, length - Ipv4HeaderSize - IcmpHeaderSize);
  if (dataSize < 0) {
    return 0;
  }
  const int32_t total = Ipv4HeaderSize + IcmpHeaderSize + dataSize;
  std::memset(buffer, 0, Ipv4HeaderSize);
  buffer[0] = 0x45;
  buffer[2] = static_cast<uint8_t>(total >> 8);
  buffer[3] = static_cast<uint8_t>(total & 0xFF);
  buffer[8] = reply.Options.Ttl;
  buffer[9] = static_cast<uint8_t>(Id_IPPROTO_ICMP);
  std::memcpy(buffer + 12, &reply.Address, 4);
  uint8_t *message = buffer + Ipv4HeaderSize;
  std::memcpy(message, echo.Request.data(), IcmpHeaderSize);
  message[0] = IcmpEchoReply;
  if (dataSize > 0 && reply.Data != nullptr) {
    std::memcpy(message + IcmpHeaderSize, reply.Data, static_cast<size_t>(dataSize));
  }
  return total;
}

} // namespace vantari
