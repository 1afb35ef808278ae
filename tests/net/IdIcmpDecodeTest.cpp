#include "IdException.h"
#include "IdIcmpClient.h"

#include <gtest/gtest.h>

#include <deque>
#include <unistd.h>
#include <vector>

namespace vantari {
namespace {

using TBytes = std::vector<uint8_t>;

// An IPv4 header from source with the given time-to-live, followed by body.
TBytes Ipv4(const TBytes &body, uint8_t ttl, std::array<uint8_t, 4> source) {
  TBytes datagram(20 + body.size(), 0);
  std::copy(body.begin(), body.end(), datagram.begin() + 20);
  datagram[0] = 0x45;
  datagram[8] = ttl;
  datagram[9] = 1;
  std::copy(source.begin(), source.end(), datagram.begin() + 12);
  return datagram;
}

// An echo message (reply 0 or request 8) with its little-endian identifier and sequence.
TBytes Echo(uint8_t type, uint16_t identifier, uint16_t sequence) {
  TBytes message(52, 'E');
  std::fill_n(message.begin(), 20, 0);
  message[0] = type;
  message[4] = identifier & 0xFF;
  message[5] = identifier >> 8;
  message[6] = sequence & 0xFF;
  message[7] = sequence >> 8;
  return message;
}

// An error message (3 or 11) quoting the IPv4 header and first 8 bytes of a request.
TBytes Error(uint8_t type, uint16_t quotedSequence) {
  TBytes message(8, 0);
  message[0] = type;
  const TBytes quoted = Ipv4(Echo(8, 1, quotedSequence), 1, {10, 0, 0, 1});
  message.insert(message.end(), quoted.begin(), quoted.begin() + 28);
  return message;
}

// The echo client fed with scripted datagrams instead of a socket, under a clock that
// jumps to each datagram's arrival time.
class TScriptedIcmpClient : public TIdIcmpClient {
public:
  struct TArrival {
    uint32_t Tick;
    TBytes Datagram; // empty: nothing arrived in time
  };

  int32_t ReceiveInto(uint8_t *buffer, int32_t length, int32_t timeout) override {
    Timeouts.push_back(timeout);
    if (Script.empty()) {
      Clock += static_cast<uint32_t>(timeout);
      return 0;
    }
    TArrival next = Script.front();
    Script.pop_front();
    Clock = next.Tick;
    const int32_t n = std::min<int32_t>(length, static_cast<int32_t>(next.Datagram.size()));
    std::copy_n(next.Datagram.begin(), n, buffer);
    return n;
  }
  uint32_t Ticks() override { return Clock; }

  TReplyStatus Await(int32_t timeout) {
    TReplyStatus reply;
    AwaitReply(timeout, reply);
    return reply;
  }
  using TIdIcmpClient::BuildRequest;
  using TIdIcmpClient::RequestBuffer;
  using TIdIcmpClient::RequestLength;

  std::deque<TArrival> Script;
  std::vector<int32_t> Timeouts;
  uint32_t Clock = 1000;
};

TEST(IdIcmpRequest, IsTheFiftyTwoByteEchoRequestWithALittleEndianSequence) {
  TScriptedIcmpClient client;
  client.BuildRequest("");
  const auto &request = client.RequestBuffer();
  ASSERT_EQ(client.RequestLength(), 52);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  EXPECT_EQ(request[4] | (request[5] << 8), getpid() & 0xFFFF);
  EXPECT_EQ(request[6], 0xA1); // 3489
  EXPECT_EQ(request[7], 0x0D);
  EXPECT_EQ(request[8] | (request[9] << 8), 1000); // the tick counter
  for (int i = 12; i < 20; ++i) {
    EXPECT_EQ(request[i], 0) << i;
  }
  for (int i = 20; i < 52; ++i) {
    EXPECT_EQ(request[i], 'E') << i;
  }
  // Summed as network-order words, a correct Internet checksum folds to 0xFFFF.
  uint32_t sum = 0;
  for (int i = 0; i < 52; i += 2) {
    sum += (request[i] << 8) | request[i + 1];
  }
  while (sum >> 16) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(sum, 0xFFFFu);
}

TEST(IdIcmpRequest, PayloadIsCutAt32BytesOrPaddedWithE) {
  TScriptedIcmpClient client;
  client.BuildRequest("abc");
  EXPECT_EQ(std::string(client.RequestBuffer().begin() + 20, client.RequestBuffer().begin() + 52),
            "abc" + std::string(29, 'E'));
  const std::string longText(40, 'x');
  client.BuildRequest(longText);
  EXPECT_EQ(std::string(client.RequestBuffer().begin() + 20, client.RequestBuffer().begin() + 52),
            std::string(32, 'x'));
  EXPECT_EQ(client.RequestBuffer()[52], 0);
}

TEST(IdIcmpDecode, EchoWithTheCurrentSequenceMatchesWhoeverSentItAndWithAnyIdentifier) {
  TScriptedIcmpClient client;
  const uint16_t sequence = client.SequenceCounter();
  client.Script = {{1003, Ipv4(Echo(8, 1, sequence), 128, {127, 0, 0, 1})}};
  TReplyStatus reply = client.Await(5000);
  EXPECT_EQ(reply.Outcome, roEcho);
  EXPECT_EQ(reply.IcmpType, 8);
  EXPECT_EQ(reply.ByteCount, 72);
  EXPECT_EQ(reply.SenderAddress, "127.0.0.1");
  EXPECT_EQ(reply.TtlValue, 128);
  EXPECT_EQ(reply.SequenceNumber, sequence);
  EXPECT_EQ(client.ReplyPayload().size(), 1024u - 40u);
  EXPECT_EQ(client.ReplyPayload().substr(0, 32), std::string(32, 'E'));

  const uint16_t otherProcess = static_cast<uint16_t>(getpid() + 1);
  client.Script = {{1005, Ipv4(Echo(0, otherProcess, sequence), 57, {192, 0, 2, 7})}};
  reply = client.Await(5000);
  EXPECT_EQ(reply.Outcome, roEcho);
  EXPECT_EQ(reply.IcmpType, 0);
  EXPECT_EQ(reply.SenderAddress, "192.0.2.7");
  EXPECT_EQ(reply.TtlValue, 57);
}

TEST(IdIcmpDecode, ErrorsQuotingTheRequestMatchThroughTheQuotedSequence) {
  TScriptedIcmpClient client;
  const uint16_t sequence = client.SequenceCounter();
  client.Script = {{1010, Ipv4(Error(3, sequence), 64, {10, 9, 8, 7})}};
  TReplyStatus reply = client.Await(5000);
  EXPECT_EQ(reply.Outcome, roUnreachable);
  EXPECT_EQ(reply.IcmpType, 3);
  EXPECT_EQ(reply.SenderAddress, "10.9.8.7");
  EXPECT_EQ(reply.SequenceNumber, sequence);
  EXPECT_EQ(reply.ByteCount, 56);

  // A time-exceeded message for an older request is skipped; the one for ours matches.
  client.Script = {{1020, Ipv4(Error(11, sequence - 1), 64, {10, 9, 8, 6})},
                   {1030, Ipv4(Error(11, sequence), 63, {10, 9, 8, 5})}};
  reply = client.Await(5000);
  EXPECT_EQ(reply.Outcome, roTtlExceeded);
  EXPECT_EQ(reply.SenderAddress, "10.9.8.5");
  EXPECT_EQ(reply.TtlValue, 63);
}

TEST(IdIcmpDecode, ShortDatagramsAndUnknownTypesRaise) {
  TScriptedIcmpClient client;
  TBytes shortOne = Ipv4(Echo(0, 1, client.SequenceCounter()), 64, {127, 0, 0, 1});
  shortOne.resize(27);
  client.Script = {{1001, shortOne}};
  try {
    client.Await(5000);
    FAIL();
  } catch (const EIdIcmpException &e) {
    EXPECT_EQ(e.Message(), "Not enough bytes received");
  }
  TBytes timestamp = Ipv4(Echo(13, 1, client.SequenceCounter()), 64, {127, 0, 0, 1});
  client.Script = {{1001, timestamp}};
  try {
    client.Await(5000);
    FAIL();
  } catch (const EIdIcmpException &e) {
    EXPECT_EQ(e.Message(), "Non-echo type response received");
  }
}

TEST(IdIcmpWait, EveryMissTakesTheWholeElapsedTimeOffTheRemainder) {
  TScriptedIcmpClient client;
  const uint16_t other = client.SequenceCounter() + 7;
  client.Script = {{2000, Ipv4(Echo(0, 1, other), 64, {127, 0, 0, 1})},
                   {4000, Ipv4(Echo(0, 1, other), 64, {127, 0, 0, 1})},
                   {4500, {}}};
  const TReplyStatus reply = client.Await(10000);
  const std::vector<int32_t> expected{10000, 9000, 6000};
  EXPECT_EQ(client.Timeouts, expected);
  EXPECT_EQ(reply.Outcome, roTimedOut);
  EXPECT_EQ(reply.SenderAddress, "0.0.0.0");
  EXPECT_EQ(reply.SequenceNumber, client.SequenceCounter());
}

TEST(IdIcmpWait, ALateMissEndsTheWaitWithTheUntouchedRecord) {
  TScriptedIcmpClient client;
  const uint16_t other = client.SequenceCounter() + 1;
  client.Script = {{1000 + 6000, Ipv4(Error(3, other), 64, {10, 0, 0, 1})}};
  const TReplyStatus reply = client.Await(5000);
  EXPECT_EQ(client.Timeouts.size(), 1u);
  EXPECT_EQ(reply.Outcome, roUnreachable); // what the last decode left
  EXPECT_EQ(reply.ByteCount, 0);
  EXPECT_EQ(reply.SenderAddress, ""); // not "0.0.0.0": no time-out was decoded
  EXPECT_EQ(reply.IcmpType, 0);
  EXPECT_EQ(reply.SequenceNumber, 0);
  EXPECT_EQ(reply.TtlValue, 0);
}

TEST(IdIcmpWait, TickSpanCountsAcrossTheWrap) {
  EXPECT_EQ(TIdIcmpClient::TickSpan(100, 350), 250u);
  EXPECT_EQ(TIdIcmpClient::TickSpan(0xFFFFFFF0u, 5), 20u);
}

} // namespace
} // namespace vantari
