#include "IdIcmpClient.h"
#include "IdException.h"
#include "NetNamespace.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantari {
namespace {

// Pings through the kernel's ICMP, each test in a network namespace of its own.
class IdIcmpClient : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string reason = test::RootSkipReason();
    if (!reason.empty()) {
      GTEST_SKIP() << reason;
    }
    Namespace = std::make_unique<test::TNetNamespace>();
    Client = std::make_unique<TIdIcmpClient>();
    Client->OnReply = [this](TIdComponent *sender, const TReplyStatus &reply) {
      EXPECT_EQ(sender, Client.get());
      Replies.push_back(reply);
    };
  }
  void TearDown() override {
    Client.reset(); // its sockets belong to the namespace
    Namespace.reset();
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

  std::unique_ptr<test::TNetNamespace> Namespace;
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

} // namespace
} // namespace vantari
