#include "HostUIRecorder.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketHandle.h"
#include "IdSystemStack.h"
#include "StackFixture.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "NetNamespace.h"
#include <arpa/inet.h>
#include <cstring>
#include <fstream>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vantari {
namespace {

// The real stack, except that name lookups are recorded and answered without the OS.
class TRecordingStack : public TIdSystemStack {
public:
  std::string GetHostByName(const std::string &name) override {
    Lookups.push_back(name);
    return "127.0.0.9";
  }
  static inline std::vector<std::string> Lookups;
};

class IdStackLookup : public test::TStackFixture<TRecordingStack> {
protected:
  void SetUp() override {
    TRecordingStack::Lookups.clear();
    TStackFixture::SetUp();
  }
};

TEST_F(IdStackLookup, LocalhostAndDottedQuadsNeedNoLookup) {
  TIdStack &stack = SharedStack();
  EXPECT_EQ(stack.LookupHost("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.LookupHost("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.LookupHost("10.1.2.3"), "10.1.2.3");
  EXPECT_EQ(stack.LookupHost("010.1.2.3"), "010.1.2.3"); // kept as typed
  EXPECT_TRUE(TRecordingStack::Lookups.empty());

  EXPECT_EQ(stack.LookupHost("256.1.1.1"), "127.0.0.9");
  EXPECT_EQ(stack.LookupHost("1.2.3"), "127.0.0.9");
  EXPECT_EQ(stack.LookupHost("1.2.3.4.5"), "127.0.0.9");
  const std::vector<std::string> expected{"256.1.1.1", "1.2.3", "1.2.3.4.5"};
  EXPECT_EQ(TRecordingStack::Lookups, expected);
}

TEST(IdStackAddress, DottedQuadNeedsFourDecimalPartsUpTo255) {
  for (const char *text : {"0.0.0.0", "127.0.0.1", "255.255.255.255", "10.1.2.3"}) {
    EXPECT_TRUE(TIdStack::IsDottedQuad(text)) << text;
  }
  for (const char *text : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.-4",
                           "1.2.3.4 ", "ftp.example.com"}) {
    EXPECT_FALSE(TIdStack::IsDottedQuad(text)) << text;
  }
}

TEST(IdStackAddress, TextAndBytesConvertBothWays) {
  const uint32_t address = TIdStack::TextToAddress("10.1.2.3");
  const auto *bytes = reinterpret_cast<const uint8_t *>(&address);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[3], 3);
  EXPECT_EQ(TIdStack::AddressToText(bytes), "10.1.2.3");
  // Each part keeps its low 8 bits.
  const uint32_t wrapped = TIdStack::TextToAddress("257.1.1.1");
  EXPECT_EQ(TIdStack::AddressToText(reinterpret_cast<const uint8_t *>(&wrapped)), "1.1.1.1");
  EXPECT_THROW(TIdStack::TextToAddress("1.2.x.4"), EConvertError);
  EXPECT_THROW(TIdStack::TextToAddress("1.2.3"), EConvertError);
}

TEST(IdStackErrors, MessagesCarryTheCodeAndItsText) {
  TIdComponent component;
  TIdStack &stack = SharedStack();
  try {
    stack.RaiseError(Id_WSAECONNREFUSED);
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  try {
    stack.RaiseError(12345);
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.Message(), "Socket Error # 12345\r\n");
  }
  EXPECT_EQ(stack.ErrorText(Id_WSAEWOULDBLOCK), "Operation would block. ");
  EXPECT_EQ(stack.ErrorText(Id_WSAHOST_NOT_FOUND), "Host not found.");
}

TEST(IdStackErrors, CheckResultToleratesListedCodesAndKeepsTheCode) {
  TIdComponent component;
  TIdStack &stack = SharedStack();
  TIdSocketHandle taken;
  taken.OpenSocket(Id_SOCK_STREAM, 0);
  taken.SetIP("127.0.0.1");
  taken.BindLocal();
  TIdSocketHandle second;
  second.OpenSocket(Id_SOCK_STREAM, 0);

  EXPECT_FALSE(stack.CheckResult(0));
  const int32_t result = stack.Bind(second.SocketId(), "127.0.0.1", taken.Port());
  EXPECT_TRUE(stack.CheckResult(result, {Id_WSAEINVAL, Id_WSAEADDRINUSE}));
  EXPECT_EQ(stack.LastErrorCode(), Id_WSAEADDRINUSE);
  try {
    stack.CheckResult(result);
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10048\r\nAddress already in use.");
  }
  EXPECT_EQ(stack.LastErrorCode(), Id_WSAEADDRINUSE);
}

// Name lookups in a namespace of their own, so nothing leaves the machine.
#ifndef _WIN32
void ExpectHostNotFound() {
  TIdComponent component;
  try {
    SharedStack().LookupHost("no-such-host.invalid");
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
}

TEST(IdStackErrors, UnknownHostRaises11001) {
  const std::string reason = test::RootSkipReason();
  if (!reason.empty()) {
    GTEST_SKIP() << reason;
  }
  // Inside an isolated namespace, asking only loopback, where no name server listens.
  test::TNetNamespace isolated;
  test::TLoopbackResolver resolver;
  ExpectHostNotFound();
}

// A name server on 127.0.0.1:53 of the calling thread's namespace; -1 when it cannot bind.
int NameServerSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(53);
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&bound), sizeof bound) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(IdStackErrors, ASlowNameServerLetsTheWindowRepaint) {
  const std::string reason = test::RootSkipReason();
  if (!reason.empty()) {
    GTEST_SKIP() << reason;
  }
  test::TNetNamespace isolated;
  test::TLoopbackResolver resolver;
  const int server = NameServerSocket();
  ASSERT_GE(server, 0) << std::strerror(errno);
  // Every query is answered "no such name", 400 ms late.
  std::thread answering([server] {
    for (int i = 0; i < 8; ++i) {
      pollfd ready{server, POLLIN, 0};
      if (::poll(&ready, 1, 3000) <= 0)
        return;
      char query[512];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          ::recvfrom(server, query, sizeof query, 0, reinterpret_cast<sockaddr *>(&from), &length);
      if (n < 12)
        return;
      query[2] = static_cast<char>(query[2] | 0x80);       // a response
      query[3] = static_cast<char>((query[3] & 0xF0) | 3); // NXDOMAIN
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      ::sendto(server, query, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr *>(&from),
               length);
    }
  });
  test::THostUIRecorder window;
  ExpectHostNotFound();
  ::shutdown(server, SHUT_RDWR);
  answering.join();
  ::close(server);
  EXPECT_GE(window.PaintPumps, 3);
}

#endif

} // namespace
} // namespace vantari
