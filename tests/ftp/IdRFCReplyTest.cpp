#include "IdRFCReply.h"
#include "IdTCPConnection.h"

#include <gtest/gtest.h>

namespace vantari {
namespace {

TEST(IdRFCReply, MultiLineReplyKeepsEveryLineWithoutItsCode) {
  TIdRFCReply reply;
  reply.ParseLines({"220-Welcome", "220 Ready"});
  EXPECT_EQ(reply.NumericCode(), 220);
  EXPECT_EQ(reply.TextCode(), "220");
  EXPECT_EQ(reply.Text(), (std::vector<std::string>{"Welcome", "Ready"}));
}

TEST(IdRFCReply, CodeOnlyLineAndLinesWithoutNumbers) {
  TIdRFCReply reply;
  reply.ParseLines({"220"});
  EXPECT_EQ(reply.NumericCode(), 220);
  EXPECT_EQ(reply.Text(), std::vector<std::string>{""});

  reply.ParseLines({"Hello there"});
  EXPECT_EQ(reply.NumericCode(), 0);
  EXPECT_EQ(reply.Text(), std::vector<std::string>{"o there"});

  for (const char *odd : {"+230 Logged in", " 230 Logged in", "23a Logged in", "2300 Logged in"}) {
    reply.ParseLines({odd});
    EXPECT_EQ(reply.NumericCode(), 0) << odd;
  }
}

TEST(IdRFCReply, MultiLineReplyEndsOnSameCodeAndSpaceOrShortLine) {
  const std::string term = TIdRFCReply::MultiLineTerminator("211-Features:");
  EXPECT_EQ(term, "211 ");
  EXPECT_TRUE(TIdRFCReply::MultiLineTerminator("211 End").empty());
  EXPECT_FALSE(TIdRFCReply::EndsMultiLineReply(" MDTM", term));
  EXPECT_FALSE(TIdRFCReply::EndsMultiLineReply("211-more", term));
  EXPECT_TRUE(TIdRFCReply::EndsMultiLineReply("211 End", term));
  EXPECT_TRUE(TIdRFCReply::EndsMultiLineReply("END", term));
  const std::string letters = TIdRFCReply::MultiLineTerminator("abc-x");
  EXPECT_TRUE(TIdRFCReply::EndsMultiLineReply("ABC done", letters));
}

TEST(IdManagedBuffer, ConsumedPrefixIsCompactedOnlyPastTheThreshold) {
  TIdManagedBuffer queue;
  int64_t reported = 0;
  queue.OnBytesRemoved = [&](TIdSimpleBuffer *, int64_t n) { reported += n; };
  const std::string data(40000, 'x');
  queue.Write(data.data(), 40000);
  queue.Write("tail", 4);
  queue.Remove(30000);
  EXPECT_EQ(queue.ConsumedBytes(), 30000);
  EXPECT_EQ(queue.Size(), 10004);
  queue.Remove(5000);
  EXPECT_EQ(queue.ConsumedBytes(), 0);
  EXPECT_EQ(queue.Size(), 5004);
  EXPECT_EQ(queue.Extract(5004).substr(5000), "tail");
  EXPECT_EQ(reported, 40004);
  EXPECT_THROW(queue.Remove(1), EIdNotEnoughDataInBuffer);

  queue.Write("more", 4);
  queue.Remove(1);
  queue.Clear();
  EXPECT_EQ(queue.Size(), 0);
  EXPECT_EQ(queue.ConsumedBytes(), 0);
  EXPECT_EQ(reported, 40005);
}

} // namespace
} // namespace vantari
