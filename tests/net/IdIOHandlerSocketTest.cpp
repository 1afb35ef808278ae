#include "IdIOHandlerSocket.h"
#include "HostUIRecorder.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdSocketHandle.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vantari {
namespace {

// A port on 127.0.0.1 where nothing listens (bound once by the system, then released).
int32_t ClosedPort() {
  TIdSocketHandle probe;
  probe.OpenSocket(Id_SOCK_STREAM, 0);
  probe.SetIP("127.0.0.1");
  probe.BindLocal();
  return probe.Port();
}

void Listen(TIdSocketHandle &listener) {
  listener.OpenSocket(Id_SOCK_STREAM, 0);
  listener.SetIP("127.0.0.1");
  listener.BindLocal();
  listener.StartListen(5);
}

TEST(IdIOHandlerSocket, RefusedConnectRaises10061AndTheTransportCanConnectAgain) {
  TIdIOHandlerSocket transport;
  std::vector<std::string> statuses;
  transport.OnStatus = [&](TIdComponent *, TIdStatus, const std::string &text) {
    statuses.push_back(text);
  };
  const int32_t closedPort = ClosedPort();
  transport.Prepare();
  try {
    transport.ConnectTo("127.0.0.1", closedPort, TIdTimeout::None(), 0, 0, 0, "");
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  transport.Shut();
  EXPECT_FALSE(transport.IsOpen());

  TIdSocketHandle listener;
  Listen(listener);
  transport.Prepare();
  transport.ConnectTo("localhost", listener.Port(), TIdTimeout::None(), 0, 0, 0, "");
  EXPECT_TRUE(transport.IsOpen());
  EXPECT_EQ(transport.SocketHandle()->RemoteIP(), "127.0.0.1");
  EXPECT_EQ(transport.SocketHandle()->RemotePort(), listener.Port());
  EXPECT_NE(transport.SocketHandle()->Port(), 0);

  const std::vector<std::string> expected{
      "Connecting to 127.0.0.1.", "Resolving hostname localhost.", "Connecting to 127.0.0.1."};
  EXPECT_EQ(statuses, expected);
}

TEST(IdIOHandlerSocket, ClosedTransportRefusesToMoveBytes) {
  TIdIOHandlerSocket transport;
  char buffer[4] = {};
  for (int round = 0; round < 2; ++round) {
    try {
      transport.SendSome(buffer, 4, TIdTimeout::None());
      FAIL();
    } catch (const EIdClosedSocket &e) {
      EXPECT_EQ(e.Message(), "Disconnected.");
    }
    EXPECT_THROW(transport.ReceiveSome(buffer, 4), EIdClosedSocket);
    transport.Prepare(); // a handle without a socket is no better
  }
}

// A transport connected to a peer on loopback.
struct TConnection {
  TConnection() {
    Listen(Listener);
    Transport.Prepare();
    Transport.ConnectTo("127.0.0.1", Listener.Port(), TIdTimeout::None(), 0, 0, 0, "");
    Accepted = Peer.AcceptOn(Listener.SocketId());
  }
  TIdComponent Owner;
  TIdSocketHandle Listener;
  TIdIOHandlerSocket Transport;
  TIdSocketHandle Peer;
  bool Accepted = false;
};

TEST(IdIOHandlerSocket, SendingToAClosedPeerRaisesInsteadOfEndingTheProcess) {
  TConnection connection;
  ASSERT_TRUE(connection.Accepted);
  connection.Peer.ShutAndClose();
  TIdIOHandlerSocket &transport = connection.Transport;

  const std::string block(1024, 'E');
  int32_t code = 0;
  for (int i = 0; i < 1000 && code == 0; ++i) {
    const int32_t sent = transport.SendSome(block.data(), 1024, TIdTimeout::None());
    if (sent < 0) {
      code = SharedStack().WSAGetLastError();
      EXPECT_THROW(SharedStack().CheckResult(sent), EIdSocketError);
    }
  }
  EXPECT_TRUE(code == Id_WSAESHUTDOWN || code == Id_WSAECONNRESET) << code;
}

// A host whose first repaint during a wait runs an action of the test.
class TActingHost : public test::THostUIRecorder {
public:
  std::function<void()> OnFirstPaint;
  void ProcessPaintEvents() override {
    THostUIRecorder::ProcessPaintEvents();
    if (OnFirstPaint) {
      std::exchange(OnFirstPaint, nullptr)();
    }
  }
};

TEST(IdIOHandlerSocket, AConnectWithoutAnswerLetsTheWindowRepaint) {
  TIdComponent owner;
  auto listener = std::make_unique<TIdSocketHandle>();
  listener->OpenSocket(Id_SOCK_STREAM, 0);
  listener->SetIP("127.0.0.1");
  listener->BindLocal();
  listener->StartListen(0);
  const int32_t port = listener->Port();
  TIdIOHandlerSocket queued; // fills the accept queue: later connects go unanswered
  queued.Prepare();
  queued.ConnectTo("127.0.0.1", port, TIdTimeout::None(), 0, 0, 0, "");

  // The connect still waits when the window first repaints; the listener then goes away
  // and the next attempt is refused.
  TActingHost host;
  host.OnFirstPaint = [&listener] { listener.reset(); };
  TIdIOHandlerSocket transport;
  transport.Prepare();
  try {
    transport.ConnectTo("127.0.0.1", port, TIdTimeout::None(), 0, 0, 0, "");
    FAIL();
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), Id_WSAECONNREFUSED);
  }
  EXPECT_GE(host.PaintPumps, 1);
}

TEST(IdIOHandlerSocket, ASendWaitingForASlowPeerLetsTheWindowRepaint) {
  TConnection connection;
  ASSERT_TRUE(connection.Accepted);
  TIdIOHandlerSocket &transport = connection.Transport;
  TIdSocketHandle &peer = connection.Peer;

  // The peer starts reading only once the sender has had to wait for it.
  TActingHost host;
  std::thread reader;
  int64_t received = 0;
  host.OnFirstPaint = [&] {
    reader = std::thread([&] {
      std::vector<char> buffer(1 << 16);
      for (int32_t n; (n = peer.ReceiveBytes(buffer.data(), 1 << 16)) > 0;) {
        received += n;
      }
    });
  };
  const std::string block(1 << 16, 'E');
  const int64_t total = int64_t{512} * block.size(); // more than the socket buffers hold
  int64_t sent = 0;
  while (sent < total) {
    const int32_t n =
        transport.SendSome(block.data(), static_cast<int32_t>(block.size()), TIdTimeout::None());
    ASSERT_GT(n, 0);
    sent += n;
  }
  transport.Shut();
  ASSERT_TRUE(reader.joinable());
  reader.join();
  EXPECT_EQ(received, sent);
  EXPECT_GE(host.PaintPumps, 1);
}

} // namespace
} // namespace vantari
