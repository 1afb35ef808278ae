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
}

TEST(IdRFCReply, CodeAndTextStayInStep) {
  TIdRFCReply reply;
  reply.SetNumericCode(331);
  EXPECT_EQ(reply.TextCode(), "331");
  reply.SetTextCode("2x0");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetNumericCode(-5);
  EXPECT_EQ(reply.TextCode(), "2x0");
  reply.Clear();
  EXPECT_EQ(reply.NumericCode(), 0);
  EXPECT_TRUE(reply.TextCode().empty());
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

TEST(IdSimpleBuffer, RemovingMovesTheRestToTheFrontAndReportsTheCount) {
  TIdSimpleBuffer buffer;
  int64_t reported = 0;
  buffer.OnBytesRemoved = [&](TIdSimpleBuffer *, int64_t n) { reported += n; };
  buffer.Write("abcdef", 6);
  EXPECT_EQ(buffer.Extract(2), "ab");
  EXPECT_EQ(buffer.Size(), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer.Memory()), 4), "cdef");
  EXPECT_THROW(buffer.Remove(5), EIdNotEnoughDataInBuffer);
  buffer.Remove(4);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(reported, 6);
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

TEST(IdManagedBuffer, AppendingAfterAConsumedPrefixKeepsOrder) {
  TIdManagedBuffer queue;
  queue.Write("12345", 5);
  queue.Remove(2);
  queue.Seek(0, TSeekOrigin::soEnd);
  queue.Write("678", 3);
  EXPECT_EQ(queue.Extract(queue.Size()), "345678");
}

} // namespace
} // namespace vantari
