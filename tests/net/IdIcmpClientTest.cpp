#include "IdIcmpClient.h"
#include "IdException.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#ifndef _WIN32
#include "NetNamespace.h"
#include <csignal>
#include <cstdlib>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vantari {
namespace {

// Pings through the kernel's ICMP, each test in a network namespace of its own. On Windows
// the system's echo service pings the machine's own loopback (no namespaces there).
class IdIcmpClient : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef _WIN32
    const std::string reason = test::RootSkipReason();
    if (!reason.empty()) {
      GTEST_SKIP() << reason;
    }
    Namespace = std::make_unique<test::TNetNamespace>();
#endif
    Client = std::make_unique<TIdIcmpClient>();
    Client->OnReply = [this](TIdComponent *sender, const TReplyStatus &reply) {
      EXPECT_EQ(sender, Client.get());
      Replies.push_back(reply);
    };
  }
  void TearDown() override {
    Client.reset(); // its sockets belong to the namespace
#ifndef _WIN32
    Namespace.reset();
#endif
  }

  void ExpectLoopbackEcho(const TReplyStatus &echo, uint16_t sequence) {
    EXPECT_EQ(echo.Outcome, roEcho);
    EXPECT_EQ(echo.IcmpType, 0); // the kernel's reply, never our own request
    EXPECT_EQ(echo.SenderAddress, "127.0.0.1");
    EXPECT_EQ(echo.ByteCount, 72);
    EXPECT_EQ(echo.TtlValue, 64); // the namespace's default time-to-live
    EXPECT_EQ(echo.SequenceNumber, sequence);
    EXPECT_LT(echo.RoundTripMs, 2000u);
  }

#ifndef _WIN32
  std::unique_ptr<test::TNetNamespace> Namespace;
#endif
  std::unique_ptr<TIdIcmpClient> Client;
  std::vector<TReplyStatus> Replies;
};

TEST_F(IdIcmpClient, EchoOfLoopbackOverARawSocket) {
  Client->SetHost("127.0.0.1");
  Client->SetReceiveTimeout(2000);
  Client->SendPing();
  EXPECT_FALSE(Client->UsesPingSocket());
  ExpectLoopbackEcho(Client->LastEcho(), 3489);
  EXPECT_EQ(Client->SequenceCounter(), 3490);
  ASSERT_EQ(Replies.size(), 1u);
  EXPECT_EQ(Replies[0].SenderAddress, "127.0.0.1");

  // An override is used and then advanced from; 65535 wraps to 0.
  Client->SendPing("", 65535);
  ExpectLoopbackEcho(Client->LastEcho(), 65535);
  EXPECT_EQ(Client->SequenceCounter(), 0);
  EXPECT_EQ(Replies.size(), 2u);
}

// Silence, unreachable networks, ordinary users and routers need namespaces of their own.
#ifndef _WIN32
TEST_F(IdIcmpClient, NoEchoReplyGivesTheTimeOutRecord) {
  Namespace->IgnoreEchoRequests();
  Client->SetHost("127.0.0.1");
  Client->SetReceiveTimeout(300);
  Client->SendPing();
  const TReplyStatus &echo = Client->LastEcho();
  EXPECT_EQ(echo.Outcome, roTimedOut);
  EXPECT_EQ(echo.SenderAddress, "0.0.0.0");
  EXPECT_EQ(echo.ByteCount, 0);
  EXPECT_EQ(echo.IcmpType, 0);
  EXPECT_EQ(echo.TtlValue, 0);
  EXPECT_EQ(echo.SequenceNumber, 3489);
  EXPECT_GE(echo.RoundTripMs, 290u);
  EXPECT_LT(echo.RoundTripMs, 2000u);
  EXPECT_EQ(Replies.size(), 1u); // OnReply fires for a time-out too
  EXPECT_EQ(Client->SequenceCounter(), 3490);

  // The program's ten-second wait, shortened by the test's ceiling.
  Client->SetReceiveTimeout(10000);
  Client->SetWaitCeiling(200);
  Client->SendPing();
  EXPECT_EQ(Client->LastEcho().Outcome, roTimedOut);
  EXPECT_EQ(Client->LastEcho().SequenceNumber, 3490);
  EXPECT_LT(Client->LastEcho().RoundTripMs, 2000u);
}

TEST_F(IdIcmpClient, NoRouteRaisesTheMappedErrorAndChangesNothing) {
  Client->SetHost("10.1.2.3"); // nothing but loopback exists in the namespace
  try {
    Client->SendPing();
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10051);
    EXPECT_EQ(e.Message(), "Socket Error # 10051\r\nNetwork is unreachable.");
  }
  EXPECT_TRUE(Replies.empty());
  EXPECT_EQ(Client->SequenceCounter(), 3489);
  EXPECT_EQ(Client->LastEcho().SenderAddress, "");
}

TEST_F(IdIcmpClient, OrdinaryUserFallsBackToTheDatagramSocket) {
  Namespace->AllowPingGroups(test::TUnprivilegedUser::NobodyGid(),
                             test::TUnprivilegedUser::NobodyGid());
  test::TUnprivilegedUser user;
  Client->SetHost("127.0.0.1");
  Client->SetReceiveTimeout(2000);
  Client->SendPing();
  EXPECT_TRUE(Client->UsesPingSocket());
  ExpectLoopbackEcho(Client->LastEcho(), 3489);
  EXPECT_EQ(Client->ReplyPayload().substr(0, 32), std::string(32, 'E'));
  EXPECT_EQ(Replies.size(), 1u);
}

TEST_F(IdIcmpClient, OrdinaryUserWithoutPingRightsCannotAllocateASocket) {
  test::TUnprivilegedUser user; // the namespace allows ping sockets to no group
  Client->SetHost("127.0.0.1");
  try {
    Client->SendPing();
    FAIL();
  } catch (const EIdInvalidSocket &e) {
    EXPECT_EQ(e.Message(), "Cannot allocate socket.");
  }
  EXPECT_TRUE(Replies.empty());
  EXPECT_EQ(Client->SequenceCounter(), 3489);
}

// A router beyond a veth pair, in a namespace of its own: it knows a way to 10.88.0.0/16
// (back where the packet came from, so the time-to-live decides) and none to anything
// else. What it sends back are real time-exceeded and unreachable reports.
class TRouterBeyond {
public:
  TRouterBeyond() {
    FPid = fork();
    if (FPid == 0) {
      // The child holds the router's namespace until the test kills it.
      if (unshare(CLONE_NEWNET) != 0)
        _exit(1);
      pause();
      _exit(0);
    }
    // The child needs a moment to leave for its namespace; ask until it has.
    for (int i = 0; i < 100 && Namespace() == NamespaceOf(getpid()); ++i)
      usleep(10000);
    const std::string pid = std::to_string(FPid);
    Ok = Run("ip link add vr0 type veth peer name vr1 netns " + pid) &&
         Run("ip addr add 10.77.0.1/24 dev vr0") && Run("ip link set vr0 up") &&
         Run("ip route add default via 10.77.0.2") &&
         Run("nsenter -t " + pid + " -n sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 " +
             "dev vr1 && ip link set vr1 up && ip route add 10.88.0.0/16 via 10.77.0.1 && " +
             "sysctl -qw net.ipv4.ip_forward=1'");
  }
  ~TRouterBeyond() {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  bool Ok = false;

private:
  static bool Run(const std::string &command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  static std::string NamespaceOf(pid_t pid) {
    char target[256] = {};
    const std::string link = "/proc/" + std::to_string(pid) + "/ns/net";
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
  }
  std::string Namespace() const { return NamespaceOf(FPid); }

  pid_t FPid = -1;
};

TEST_F(IdIcmpClient, OrdinaryUserHearsRoutersErrorReports) {
  TRouterBeyond router;
  ASSERT_TRUE(router.Ok) << "cannot set up the router namespace";
  Namespace->AllowPingGroups(test::TUnprivilegedUser::NobodyGid(),
                             test::TUnprivilegedUser::NobodyGid());
  test::TUnprivilegedUser user;
  Client->SetHost("10.88.0.1");
  Client->SetReceiveTimeout(5000);
  Client->SetSendTtl(1);
  Client->SendPing();
  ASSERT_TRUE(Client->UsesPingSocket());
  EXPECT_EQ(Client->LastEcho().Outcome, roTtlExceeded);
  EXPECT_EQ(Client->LastEcho().IcmpType, 11);
  EXPECT_EQ(Client->LastEcho().SenderAddress, "10.77.0.2");
  EXPECT_EQ(Client->LastEcho().SequenceNumber, 3489);

  Client->SetSendTtl(64);
  Client->SetHost("10.99.0.1");
  Client->SendPing();
  EXPECT_EQ(Client->LastEcho().Outcome, roUnreachable);
  EXPECT_EQ(Client->LastEcho().IcmpType, 3);
  EXPECT_EQ(Client->LastEcho().SenderAddress, "10.77.0.2");
  EXPECT_LT(Client->LastEcho().RoundTripMs, 4000u) << "a report, not the time-out";
}

#endif

} // namespace
} // namespace vantari
