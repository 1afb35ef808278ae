#include "FtpTestKit.h"
#include "HostUIRecorder.h"
#include "IdTCPClient.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

namespace vantari {
namespace {

using test::TScriptedPeer;

class IdTCPConnection : public ::testing::Test {
protected:
  void Connect() {
    Peer.Start();
    Client.SetHost("127.0.0.1");
    Client.SetPort(Peer.Port());
    Client.OpenConnection(-1);
  }
  void TearDown() override {
    Client.CloseConnection();
    Peer.Finish();
    EXPECT_EQ(Peer.Failure(), "");
  }

  TScriptedPeer Peer;
  TIdTCPClient Client;
};

TEST_F(IdTCPConnection, LinesEndInLfWithOneCrDropped) {
  Peer.Send("a\r\nb\n\r\nc\r\r\n");
  Connect();
  EXPECT_EQ(Client.ReadLine(), "a");
  EXPECT_EQ(Client.ReadLine(), "b");
  EXPECT_EQ(Client.ReadLine(), "");
  EXPECT_EQ(Client.ReadLine(), "c\r");
}

TEST_F(IdTCPConnection, LineLimitCountsEveryByteBeforeTheLf) {
  Peer.Send("0123456789\n").Send("0123456789\r\n");
  Connect();
  Client.SetMaxLineLength(10);
  EXPECT_EQ(Client.ReadLine(), "0123456789");
  EXPECT_THROW(Client.ReadLine(), EIdReadLnMaxLineLengthExceeded);
}

TEST_F(IdTCPConnection, OverlongLineRaisesBeforeItsEndArrives) {
  Peer.Send("01234567890").Pause(300).Send("\n");
  Connect();
  Client.SetMaxLineLength(10);
  try {
    Client.ReadLine();
    FAIL() << "no exception";
  } catch (const EIdReadLnMaxLineLengthExceeded &e) {
    EXPECT_EQ(e.Message(), "Max line length exceeded.");
  }
}

TEST_F(IdTCPConnection, ALineTricklingInLetsTheWindowRepaint) {
  for (int i = 0; i < 12; ++i)
    Peer.Send("x").Pause(30); // each wait is shorter than a repaint slice, the line is not
  Peer.Send("\r\n");
  test::THostUIRecorder window;
  Connect();
  EXPECT_EQ(Client.ReadLine(), std::string(12, 'x'));
  EXPECT_GE(window.PaintPumps, 2);
}

TEST_F(IdTCPConnection, SplitModeReturnsTheLineInPieces) {
  Peer.Send("0123456789AB\n");
  Connect();
  Client.SetMaxLineLength(10);
  Client.SetMaxLineAction(maSplit);
  EXPECT_EQ(Client.ReadLine(), "0123456789");
  EXPECT_TRUE(Client.LastLineSplit());
  EXPECT_EQ(Client.ReadLine(), "AB");
  EXPECT_FALSE(Client.LastLineSplit());
}

TEST_F(IdTCPConnection, RepliesSkipBlankLinesAndJoinContinuationLines) {
  Peer.Send("\r\n   \r\n220-Welcome\r\n220 Ready\r\n");
  Connect();
  EXPECT_EQ(Client.ReadReply(), 220);
  EXPECT_EQ(Client.LastReply().Text(), (std::vector<std::string>{"Welcome", "Ready"}));
}

TEST_F(IdTCPConnection, CommandsCheckTheReplyCode) {
  Peer.Expect("NOOP").Reply("500 Unknown command").Expect("HELP").Reply("530 Not logged in.");
  Connect();
  EXPECT_EQ(Client.SendCommand("NOOP", -1), 500);
  try {
    Client.SendCommand("HELP", {200, 214});
    FAIL() << "no exception";
  } catch (const EIdProtocolReplyError &e) {
    EXPECT_EQ(e.ReplyErrorCode(), 530);
    EXPECT_EQ(e.Message(), "Not logged in.\r\n");
  }
  EXPECT_TRUE(Client.IsConnected());
}

TEST_F(IdTCPConnection, PartialLineThenCloseEndsTheLineThenRaises) {
  Peer.Send("220 partial").Close();
  Connect();
  EXPECT_EQ(Client.ReadLine(), "");
  EXPECT_TRUE(Client.LastLineTimedOut());
  EXPECT_EQ(Client.InputQueue().Size(), 11);
  EXPECT_FALSE(Client.IsConnected());
  EXPECT_THROW(Client.ReadLine(), EIdConnClosedGracefully);
  EXPECT_THROW(Client.ReadReply(), EIdConnClosedGracefully);
}

TEST_F(IdTCPConnection, ReadUntilClosedCountsEveryFullChunkConsumed) {
  const std::string data = test::PatternBytes(20000);
  Peer.Send(data).Close();
  Connect();
  Client.SetRecvBufferSize(8192);
  test::TWorkLog log;
  log.Attach(Client);
  TMemoryStream stream;
  Client.ReadToStream(stream, -1, true);
  ASSERT_EQ(log.Entries.size(), 4u);
  EXPECT_EQ(log.Entries.front().Kind, "begin");
  EXPECT_EQ(log.Entries.front().Value, 0);
  EXPECT_EQ(log.Counts(), (std::vector<int32_t>{8192, 16384}));
  EXPECT_EQ(log.Entries.back().Kind, "end");
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), data);
}

TEST_F(IdTCPConnection, CountedReadStopsAtTheCountAndRaisesOnEarlyClose) {
  Peer.Send("abcdefgh").Close();
  Connect();
  TMemoryStream stream;
  Client.ReadToStream(stream, 5, false);
  EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "abcde");
  TMemoryStream rest;
  EXPECT_THROW(Client.ReadToStream(rest, 10, false), EIdConnClosedGracefully);
  EXPECT_EQ(rest.Size(), 3) << "reserved room beyond the bytes received is cut off";
}

TEST_F(IdTCPConnection, ResetDuringAReadUntilClosedIsAnErrorNotTheEnd) {
  Peer.Send("abc").Pause(100).Reset();
  Connect();
  TMemoryStream stream;
  try {
    Client.ReadToStream(stream, -1, true);
    FAIL() << "a reset passed for an orderly close";
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10054);
  }
  EXPECT_FALSE(Client.IsConnected());
}

TEST_F(IdTCPConnection, StreamWritesReportEverySend) {
  std::string lines;
  for (int i = 0; i < 50; ++i)
    lines += std::string(99, static_cast<char>('a' + i % 26)) + "\n";
  Connect();
  Client.SetSendBufferSize(1024);
  test::TWorkLog log;
  log.Attach(Client);
  TMemoryStream stream(std::vector<uint8_t>(lines.begin(), lines.end()));
  stream.SetPosition(4000);
  Client.WriteFromStream(stream, true);
  Client.CloseConnection();
  EXPECT_EQ(log.Entries.front().Value, 5000);
  EXPECT_EQ(log.Counts(), (std::vector<int32_t>{1024, 2048, 3072, 4096, 5000}));
  EXPECT_EQ(log.Entries.back().Kind, "end");
  const std::vector<std::string> received = Peer.Finish();
  ASSERT_EQ(received.size(), 50u);
  EXPECT_EQ(received[49], std::string(99, 'x'));
}

TEST_F(IdTCPConnection, RefusedConnectLeavesTheClientReadyToConnectAgain) {
  Client.SetHost("127.0.0.1");
  Client.SetPort(test::FreeLoopbackPort());
  try {
    Client.OpenConnection(-1);
    FAIL() << "no exception";
  } catch (const EIdSocketError &e) {
    EXPECT_EQ(e.SocketErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_FALSE(Client.IsConnected());
  Peer.Reply("220 again");
  Connect();
  EXPECT_EQ(Client.ReadReply(), 220);
}

} // namespace
} // namespace vantari
