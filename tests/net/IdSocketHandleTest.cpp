#include "IdSocketHandle.h"
#include "HostUIRecorder.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdIOHandlerSocket.h"
#include "IdSystemStack.h"
#include "StackFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantari {
namespace {

using Clock = std::chrono::steady_clock;

// The real stack, recording the port of every bind.
class TBindRecordingStack : public TIdSystemStack {
public:
  int32_t Bind(TIdStackSocketHandle s, const std::string &ip, int32_t port) override {
    Ports.push_back(port);
    return TIdSystemStack::Bind(s, ip, port);
  }
  static inline std::vector<int32_t> Ports;
};

class IdSocketHandle : public test::TStackFixture<TBindRecordingStack> {
protected:
  void SetUp() override {
    TBindRecordingStack::Ports.clear();
    TStackFixture::SetUp();
  }
  void TearDown() override {
    Held.clear();
    Listening.reset();
    TStackFixture::TearDown();
  }

  // A socket bound to port (0 = any) of every local address; nullptr when taken.
  static std::unique_ptr<TIdSocketHandle> Occupy(int32_t port) {
    auto handle = std::make_unique<TIdSocketHandle>();
    handle->OpenSocket(Id_SOCK_STREAM, 0);
    handle->SetPort(port);
    try {
      handle->BindLocal();
    } catch (const EIdCouldNotBindSocket &) {
      return nullptr;
    }
    return handle;
  }

  // Three consecutive ports held by this test; the lowest is returned.
  int32_t OccupyThreePorts() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      // Below the ephemeral range, so no connection elsewhere takes a port meanwhile.
      const int32_t base = 20000 + (getpid() * 7 + attempt * 131) % 12000;
      Held.clear();
      for (int32_t port = base; port < base + 3; ++port) {
        if (auto handle = Occupy(port)) {
          Held.push_back(std::move(handle));
        }
      }
      if (Held.size() == 3) {
        return base;
      }
    }
    ADD_FAILURE() << "no three free consecutive ports";
    return 0;
  }

  // A listening socket on 127.0.0.1 and a port chosen by the system.
  static std::unique_ptr<TIdSocketHandle> Listener() {
    auto listener = std::make_unique<TIdSocketHandle>();
    listener->OpenSocket(Id_SOCK_STREAM, 0);
    listener->SetIP("127.0.0.1");
    listener->BindLocal();
    listener->StartListen(5);
    return listener;
  }

  // Connects client to a fresh listener and accepts the connection into server.
  void Connect(TIdIOHandlerSocket &client, TIdSocketHandle &server) {
    Listening = Listener();
    client.Prepare();
    client.ConnectTo("127.0.0.1", Listening->Port(), TIdTimeout::None(), 0, 0, 0, "");
    ASSERT_TRUE(server.AcceptOn(Listening->SocketId()));
  }

  std::unique_ptr<TIdSocketHandle> Listening;
  std::vector<std::unique_ptr<TIdSocketHandle>> Held;
};

TEST_F(IdSocketHandle, ReversedPortRangeIsInvalid) {
  TIdSocketHandle handle;
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  handle.SetClientPortMin(5000);
  handle.SetClientPortMax(4000);
  try {
    handle.BindLocal();
    FAIL();
  } catch (const EIdInvalidPortRange &e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (5000 - 4000)");
  }
  EXPECT_TRUE(TBindRecordingStack::Ports.empty());
}

TEST_F(IdSocketHandle, FullyUsedRangeIsTriedFromTheTopDown) {
  const int32_t base = OccupyThreePorts();
  TBindRecordingStack::Ports.clear();
  TIdSocketHandle handle;
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  handle.SetClientPortMin(base);
  handle.SetClientPortMax(base + 2);
  try {
    handle.BindLocal();
    FAIL();
  } catch (const EIdCanNotBindPortInRange &e) {
    EXPECT_EQ(e.Message(), Format("Can not bind in port range (%d - %d)", base, base + 2));
  }
  const std::vector<int32_t> expected{base + 2, base + 1, base};
  EXPECT_EQ(TBindRecordingStack::Ports, expected);
}

TEST_F(IdSocketHandle, RangeBindTakesTheHighestFreePort) {
  const int32_t base = OccupyThreePorts();
  Held.erase(Held.begin(), Held.begin() + 2); // base and base + 1 become free
  TIdSocketHandle handle;
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  handle.SetClientPortMin(base);
  handle.SetClientPortMax(base + 2);
  handle.BindLocal();
  EXPECT_EQ(handle.Port(), base + 1);
  EXPECT_EQ(handle.IP(), "0.0.0.0");
}

TEST_F(IdSocketHandle, SingleBindToAPortInUseCannotBind) {
  const int32_t base = OccupyThreePorts();
  TIdSocketHandle handle;
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  handle.SetPort(base);
  try {
    handle.BindLocal();
    FAIL();
  } catch (const EIdCouldNotBindSocket &e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
}

TEST_F(IdSocketHandle, AcceptGivesTheLocalAndTheRemoteEnd) {
  TIdIOHandlerSocket client;
  TIdSocketHandle accepted;
  Connect(client, accepted);
  EXPECT_TRUE(accepted.HasSocket());
  EXPECT_EQ(accepted.IP(), "127.0.0.1");
  EXPECT_EQ(accepted.Port(), Listening->Port());
  EXPECT_EQ(accepted.RemoteIP(), "127.0.0.1");
  EXPECT_EQ(accepted.RemotePort(), client.SocketHandle()->Port());
  EXPECT_EQ(client.SocketHandle()->RemotePort(), Listening->Port());

  const char text[] = "220 ready\r\n";
  EXPECT_EQ(accepted.SendBytes(text, 11), 11);
  char buffer[32] = {};
  ASSERT_TRUE(client.WaitReadable(TIdTimeout::FromWaitMs(2000)));
  EXPECT_EQ(client.ReceiveSome(buffer, sizeof buffer), 11);
  EXPECT_STREQ(buffer, text);
}

TEST_F(IdSocketHandle, AcceptWaitsRepaintingAndReturnsFalseWhenTheListenerIsClosedUnderIt) {
  auto listener = Listener();
  const TIdStackSocketHandle listening = listener->SocketId();
  listener->ClearState(true); // the id is now ours to close
  std::thread closer([listening] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    SharedStack().CloseSocket(listening);
  });
  test::THostUIRecorder host;
  TIdSocketHandle handle;
  const bool accepted = handle.AcceptOn(listening);
  closer.join();
  EXPECT_FALSE(accepted);
  EXPECT_FALSE(handle.HasSocket());
  EXPECT_GE(host.PaintPumps, 1); // the window could repaint while accept waited
}

TEST_F(IdSocketHandle, WaitReadablePollsWaitsAndRepaints) {
  test::THostUIRecorder host;
  TIdIOHandlerSocket client;
  TIdSocketHandle server;
  Connect(client, server);

  auto started = Clock::now();
  EXPECT_FALSE(client.WaitReadable(TIdTimeout::FromWaitMs(0)));
  EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(100));

  started = Clock::now();
  EXPECT_FALSE(client.WaitReadable(TIdTimeout::FromWaitMs(350)));
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(350));
  EXPECT_GE(host.PaintPumps, 3); // the window could repaint while the wait lasted

  std::thread peer([&server] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.SendBytes("x", 1);
  });
  host.PaintPumps = 0;
  EXPECT_TRUE(client.WaitReadable(TIdTimeout::FromWaitMs(-2)));
  peer.join();
  EXPECT_GE(host.PaintPumps, 2);
}

TEST_F(IdSocketHandle, WaitReadableWithoutSocketOrOnABrokenOne) {
  TIdSocketHandle handle;
  try {
    handle.WaitReadable(0);
    FAIL();
  } catch (const EIdConnClosedGracefully &e) {
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
  // A socket closed behind the handle's back: the wait fails, which reads as not readable.
  handle.OpenSocket(Id_SOCK_STREAM, 0);
  SharedStack().CloseSocket(handle.SocketId());
  EXPECT_FALSE(handle.WaitReadable(50));
  handle.ClearState(true);
}

TEST_F(IdSocketHandle, DatagramTooLongForUdpIsTooBig) {
  auto receiver = std::make_unique<TIdSocketHandle>();
  receiver->OpenSocket(Id_SOCK_DGRAM, 0);
  receiver->SetIP("127.0.0.1");
  receiver->BindLocal();
  TIdSocketHandle sender;
  sender.OpenSocket(Id_SOCK_DGRAM, 0);
  std::vector<char> big(70000, 'E');
  EXPECT_THROW(sender.SendDatagram("127.0.0.1", receiver->Port(), big.data(), 70000),
               EIdPackageSizeTooBig);
  sender.SendDatagram("127.0.0.1", receiver->Port(), big.data(), 52);
  ASSERT_TRUE(receiver->WaitReadable(2000));
  EXPECT_EQ(receiver->ReceiveBytes(big.data(), 1024), 52);
}

} // namespace
} // namespace vantari
