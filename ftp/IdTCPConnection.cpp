#include "IdTCPConnection.h"

#include "IdStack.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vantari {

// ---- TIdSimpleBuffer ----

void TIdSimpleBuffer::Reserve(int64_t physicalSize) {
  if (physicalSize <= static_cast<int64_t>(FData.size()))
    return;
  // Grows geometrically; the spare room is never zero-filled again.
  FData.resize(static_cast<size_t>(std::max<int64_t>(physicalSize, 2 * FData.size())));
}

int64_t TIdSimpleBuffer::Read(void *buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(FSize - FPosition, 0, std::max<int64_t>(count, 0));
  if (n > 0)
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TIdSimpleBuffer::Write(const void *buffer, int64_t count) {
  if (count <= 0)
    return 0;
  Reserve(FPosition + count);
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  FSize = std::max(FSize, FPosition);
  return count;
}

int64_t TIdSimpleBuffer::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soBeginning ? Offset()
                       : origin == TSeekOrigin::soCurrent ? FPosition
                                                          : FSize;
  FPosition = std::max(Offset(), base + offset);
  return FPosition - Offset();
}

void TIdSimpleBuffer::SetSize(int64_t newSize) {
  const int64_t physical = Offset() + std::max<int64_t>(newSize, 0);
  Reserve(physical);
  FSize = physical;
  FPosition = std::min(FPosition, FSize);
}

std::string TIdSimpleBuffer::Extract(int64_t count) {
  if (count > Size())
    throw EIdNotEnoughDataInBuffer();
  std::string result(reinterpret_cast<const char *>(Memory()), static_cast<size_t>(count));
  Remove(count);
  return result;
}

void TIdSimpleBuffer::Remove(int64_t count) {
  if (count > Size())
    throw EIdNotEnoughDataInBuffer();
  if (count == Size())
    Reset();
  else
    Compact(count);
  if (OnBytesRemoved)
    OnBytesRemoved(this, count);
}

void TIdSimpleBuffer::Compact(int64_t physicalOffset) {
  const int64_t rest = FSize - physicalOffset;
  std::memmove(FData.data(), FData.data() + physicalOffset, static_cast<size_t>(rest));
  FSize = rest;
  FPosition = std::max<int64_t>(0, FPosition - physicalOffset);
}

void TIdSimpleBuffer::Reset() {
  FSize = 0;
  FPosition = 0;
}

// ---- TIdManagedBuffer ----

void TIdManagedBuffer::Remove(int64_t count) {
  if (count > Size())
    throw EIdNotEnoughDataInBuffer();
  if (count == Size()) {
    Clear();
  } else {
    FConsumedBytes += count;
    if (FConsumedBytes >= CompactThreshold) {
      const int64_t consumed = FConsumedBytes;
      FConsumedBytes = 0;
      Compact(consumed);
    }
  }
  if (OnBytesRemoved)
    OnBytesRemoved(this, count);
}

void TIdManagedBuffer::Clear() {
  FConsumedBytes = 0;
  Reset();
}

// ---- TIdTCPConnection ----

namespace {

std::string ReplyMessage(const TIdRFCReply &reply) {
  std::string message;
  for (const std::string &line : reply.Text())
    message += line + "\r\n";
  return message;
}

} // namespace

TIdTCPConnection::TIdTCPConnection() {
  // Bytes count as read work when they are consumed, not when they arrive.
  FInputQueue.OnBytesRemoved = [this](TIdSimpleBuffer *, int64_t count) {
    CountWork(wmRead, static_cast<int32_t>(count));
  };
}

TIdTCPConnection::~TIdTCPConnection() {
  if (FIOHandler)
    FIOHandler->Shut();
  FreeIOHandler();
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler *handler) {
  if (handler == FIOHandler)
    return;
  FOwnedIOHandler.reset();
  FIOHandler = handler;
}

void TIdTCPConnection::AdoptIOHandler(std::unique_ptr<TIdIOHandler> handler) {
  FOwnedIOHandler = std::move(handler);
  FIOHandler = FOwnedIOHandler.get();
}

void TIdTCPConnection::FreeIOHandler() {
  if (!FOwnedIOHandler)
    return;
  FIOHandler = nullptr;
  FOwnedIOHandler.reset();
}

void TIdTCPConnection::NotifyDisconnected() {
  if (OnDisconnected)
    OnDisconnected(this);
}

void TIdTCPConnection::ResetReadState() {
  FInputQueue.Clear();
  FPeerClosed = false;
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreQueue) {
  bool closed = false;
  if (FPeerClosed || !FIOHandler) {
    if (FIOHandler) {
      if (FIOHandler->IsOpen()) {
        DropSocket();
        ReportStatus(hsDisconnected);
        NotifyDisconnected();
      }
      closed = true;
    }
  } else {
    closed = !FIOHandler->IsOpen();
  }
  if (closed && raiseIfClosed && (FInputQueue.Size() == 0 || ignoreQueue))
    throw EIdConnClosedGracefully();
}

int16_t TIdTCPConnection::CheckReplyCode(int16_t code, const TIdReplyCodes &allowed) {
  if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), code) == allowed.end())
    RaiseReplyError();
  return code;
}

bool TIdTCPConnection::IsConnected() {
  CheckPeerClosed(false, false);
  return FIOHandler && FIOHandler->IsOpen();
}

void TIdTCPConnection::CloseConnection() {
  ReportStatus(hsDisconnecting);
  DropSocket();
  FreeIOHandler();
  NotifyDisconnected();
  ReportStatus(hsDisconnected);
}

void TIdTCPConnection::DropSocket() {
  if (!FIOHandler)
    return;
  FPeerClosed = true;
  FIOHandler->Shut();
}

int16_t TIdTCPConnection::ExpectReply(const TIdReplyCodes &allowed) {
  ReadReply();
  return CheckReplyCode(static_cast<int16_t>(FLastReply.NumericCode()), allowed);
}

void TIdTCPConnection::RaiseReplyError() {
  throw EIdProtocolReplyError(FLastReply.NumericCode(), ReplyMessage(FLastReply));
}

// -1 stands for ReadTimeout (0: no limit); a reply being read also ends at its deadline.
TIdTimeout TIdTCPConnection::ReadLimit(int32_t timeoutMs) const {
  const TIdTimeout asked =
      timeoutMs == -1 ? TIdTimeout::FromSetting(FReadTimeout) : TIdTimeout::FromWaitMs(timeoutMs);
  return TIdDeadline::Sooner(TIdDeadline(asked), FReplyDeadline).Remaining();
}

int32_t TIdTCPConnection::FillInputQueue(bool raiseIfDisconnected, int32_t timeoutMs,
                                         bool raiseOnTimeout) {
  const TIdTimeout limit = ReadLimit(timeoutMs);
  int32_t result = 0;
  CheckPeerClosed(raiseIfDisconnected, false);
  if (!IsConnected()) {
    if (raiseIfDisconnected)
      throw EIdNotConnected();
    return 0;
  }
  int32_t n = 0;
  do {
    if (!FIOHandler->WaitReadable(limit)) {
      if (raiseOnTimeout)
        throw EIdReadTimeout();
      return -1;
    }
    try {
      n = ReceiveIntoQueue(raiseIfDisconnected);
    } catch (const EIdReadTimeout &) {
      // Bytes came, but no whole TLS record of data (perhaps only TLS's own messages, such as
      // session tickets) before the limit: the same as nothing coming.
      if (raiseOnTimeout)
        throw;
      return -1;
    }
    CheckPeerClosed(raiseIfDisconnected, false);
    result = n;
  } while (n == 0 && IsConnected());
  return result;
}

// One receive of at most RecvBufferSize bytes appended to the queue; 0 when the
// peer closed or the connection broke with bytes still queued.
int32_t TIdTCPConnection::ReceiveIntoQueue(bool raiseIfDisconnected) {
  int32_t n = 0;
  if (FIOHandler) {
    FReceiveChunk.SetSize(FRecvBufferSize);
    n = FIOHandler->ReceiveSome(FReceiveChunk.Memory(), FRecvBufferSize);
  } else if (raiseIfDisconnected) {
    throw EIdNotConnected();
  }
  FPeerClosed = n == 0;
  // A reset drops the socket too, so that IsConnected tells the truth; but unlike a
  // shutdown it always raises: with bytes queued it would pass for the orderly end of a
  // download and a cut-off file for a complete one.
  if (n == Id_SOCKET_ERROR &&
      SharedStack().CheckResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET})) {
    n = 0;
    DropSocket();
    if (FInputQueue.Size() == 0 || SharedStack().LastErrorCode() == Id_WSAECONNRESET)
      SharedStack().RaiseError(SharedStack().LastErrorCode());
  }
  if (n > 0) {
    FInputQueue.Seek(0, TSeekOrigin::soEnd);
    FInputQueue.Write(FReceiveChunk.Memory(), n);
  }
  return n;
}

std::string TIdTCPConnection::SplitOrRaise(int32_t maxLength) {
  if (FMaxLineAction == maException)
    throw EIdReadLnMaxLineLengthExceeded();
  FLastLineSplit = true;
  return FInputQueue.Extract(maxLength);
}

std::string TIdTCPConnection::ReadLine(const std::string &terminator, int32_t timeoutMs,
                                       int32_t maxLength) {
  if (maxLength == -1)
    maxLength = FMaxLineLength;
  const std::string term = terminator.empty() ? std::string("\n") : terminator;
  FLastLineSplit = false;
  FLastLineTimedOut = false;
  int64_t termPos = 0;
  int64_t scanned = 0;
  do {
    const int64_t size = FInputQueue.Size();
    if (size > 0) {
      // Only bytes that arrived since the last look are searched.
      const int64_t from = std::max<int64_t>(0, scanned - static_cast<int64_t>(term.size()) + 1);
      const std::string_view queued(reinterpret_cast<const char *>(FInputQueue.Memory()),
                                    static_cast<size_t>(size));
      const size_t found = queued.find(term, static_cast<size_t>(from));
      if (found != std::string_view::npos)
        termPos = static_cast<int64_t>(found) + 1;
      scanned = size;
    }
    if (maxLength != 0 && termPos - 1 > maxLength)
      return SplitOrRaise(maxLength);
    if (termPos == 0) {
      if (maxLength != 0 && scanned > maxLength)
        return SplitOrRaise(maxLength);
      CheckPeerClosed(true, true);
      const int32_t n = FillInputQueue(true, timeoutMs, timeoutMs == -1);
      // A time-out without an exception (-1) ends the line as well as a close (0).
      FLastLineTimedOut = n <= 0;
      if (FLastLineTimedOut)
        return std::string();
    }
  } while (termPos == 0);
  std::string line = FInputQueue.Extract(termPos + static_cast<int64_t>(term.size()) - 1);
  size_t length = line.size() - term.size();
  if (term == "\n" && length > 0 && line[length - 1] == '\r')
    --length;
  line.resize(length);
  return line;
}

std::string TIdTCPConnection::ReadNonBlankLine(int32_t maxTries) {
  std::string result;
  for (int32_t i = 0; i < maxTries && result.empty(); ++i)
    result = TrimBlanks(ReadLine("\n", -1, -1));
  return result;
}

int16_t TIdTCPConnection::ReadReply() {
  return ReadReplyWithin(TIdTimeout::FromSetting(FReplyTimeout));
}

int16_t TIdTCPConnection::ReadReplyWithin(TIdTimeout limit) {
  // Every read of this reply ends at one deadline, so a reply that trickles in a byte at a
  // time ends as surely as a silent one.
  struct TDeadlineScope {
    TIdDeadline &Slot;
    TIdDeadline Saved;
    TDeadlineScope(TIdDeadline &slot, TIdTimeout limit) : Slot(slot), Saved(slot) {
      slot = TIdDeadline(limit);
    }
    ~TDeadlineScope() { Slot = Saved; }
  } scope(FReplyDeadline, limit);
  int64_t lineCount = 0;
  int64_t byteCount = 0;
  // The next non-blank line; blank lines count against the limits too. The line keeps its
  // leading blanks: " 230" is not a reply code.
  const auto nextLine = [&] {
    for (;;) {
      std::string line = ReadLine("\n", -1, -1);
      byteCount += static_cast<int64_t>(line.size()) + 1;
      if (++lineCount > MaxReplyLines || byteCount > MaxReplyBytes)
        throw EIdReplyTooLong();
      if (!TrimBlanks(line).empty()) {
        while (static_cast<unsigned char>(line.back()) <= ' ')
          line.pop_back();
        return line;
      }
    }
  };
  std::vector<std::string> lines{nextLine()};
  const std::string terminator = TIdRFCReply::MultiLineTerminator(lines.front());
  if (!terminator.empty()) {
    do
      lines.push_back(nextLine());
    while (!TIdRFCReply::EndsMultiLineReply(lines.back(), terminator));
  }
  FLastReply.ParseLines(lines);
  return static_cast<int16_t>(FLastReply.NumericCode());
}

int16_t TIdTCPConnection::SendCommand(const std::string &text, const TIdReplyCodes &allowed) {
  WriteLine(text);
  return ExpectReply(allowed);
}

int16_t TIdTCPConnection::SendCommand(const std::string &text, int16_t code) {
  return SendCommand(text, code == -1 ? TIdReplyCodes{} : TIdReplyCodes{code});
}

void TIdTCPConnection::WriteText(const std::string &text) {
  if (text.empty())
    return;
  WriteBytes(text.data(), static_cast<int32_t>(text.size()));
  // A command goes out now: the server's answer, or its data connection, may come before
  // this side reads anything.
  FIOHandler->FlushWrites();
}

void TIdTCPConnection::WriteLine(const std::string &text) {
  WriteText(text + "\r\n");
}

void TIdTCPConnection::WriteBytes(const void *buffer, int32_t count) {
  if (count <= 0 || !buffer)
    return;
  CheckPeerClosed(true, true);
  if (!IsConnected())
    throw EIdNotConnected();
  const auto *bytes = static_cast<const uint8_t *>(buffer);
  int32_t sent = 0;
  do {
    const int32_t n =
        FIOHandler->SendSome(bytes + sent, count - sent, TIdTimeout::FromSetting(FWriteTimeout));
    CheckSent(n);
    sent += n;
  } while (sent < count);
}

// Checks the result n of one send and counts it as write work.
void TIdTCPConnection::CheckSent(int32_t n) {
  FPeerClosed = n == 0;
  CheckPeerClosed(true, false);
  if (n == Id_SOCKET_ERROR &&
      SharedStack().CheckResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET})) {
    DropSocket();
    SharedStack().RaiseError(SharedStack().LastErrorCode());
  }
  CountWork(wmWrite, n);
}

void TIdTCPConnection::ReadBytes(void *buffer, int32_t count) {
  if (count <= 0 || !buffer)
    return;
  while (FInputQueue.Size() < count) {
    FillInputQueue(true, -1, true);
    CheckPeerClosed(true, true);
  }
  std::memcpy(buffer, FInputQueue.Memory(), static_cast<size_t>(count));
  FInputQueue.Remove(count);
}

int32_t TIdTCPConnection::ReadInt32() {
  uint32_t value = 0;
  ReadBytes(&value, 4);
  return static_cast<int32_t>(TIdStack::NToHL(value));
}

void TIdTCPConnection::WriteInt32(int32_t value) {
  const uint32_t wire = TIdStack::HToNL(static_cast<uint32_t>(value));
  WriteBytes(&wire, 4);
}

void TIdTCPConnection::ReadToStream(TStream &stream, int64_t byteCount, bool untilClosed) {
  if (byteCount == -1 && !untilClosed)
    byteCount = ReadInt32();
  if (byteCount >= 0) {
    const int64_t here = stream.Position();
    stream.SetSize(here + byteCount);
    stream.SetPosition(here);
  }
  // Until closed the length is unknown and unbounded (a file may exceed 2 GB).
  int64_t remaining = untilClosed ? std::numeric_limits<int64_t>::max() : byteCount;
  StartWork(wmRead, untilClosed ? 0 : static_cast<int32_t>(byteCount));
  try {
    if (FInputQueue.Size() > 0) {
      const int64_t n = std::min(FInputQueue.Size(), remaining);
      stream.WriteBuffer(FInputQueue.Memory(), n);
      FInputQueue.Remove(n);
      remaining -= n;
    }
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(remaining, FRecvBufferSize)));
    while (IsConnected() && remaining > 0) {
      int32_t n = static_cast<int32_t>(std::min<int64_t>(remaining, chunk.size()));
      try {
        ReadBytes(chunk.data(), n);
      } catch (const EIdConnClosedGracefully &) {
        if (!untilClosed)
          throw;
        // The last bytes before the close; taken without counting them as work.
        n = static_cast<int32_t>(FInputQueue.Size());
        if (n > 0)
          std::memcpy(chunk.data(), FInputQueue.Memory(), static_cast<size_t>(n));
        FInputQueue.Clear();
      }
      if (n > 0) {
        stream.WriteBuffer(chunk.data(), n);
        remaining -= n;
      }
    }
  } catch (...) {
    EndRead(stream);
    throw;
  }
  EndRead(stream);
}

// Closes the read work and cuts off what a counted read reserved but never filled.
void TIdTCPConnection::EndRead(TStream &stream) {
  FinishWork(wmRead);
  if (stream.Size() > stream.Position())
    stream.SetSize(stream.Position());
}

void TIdTCPConnection::WriteFromStream(TStream &stream, bool fromStart, bool withCountPrefix,
                                       int64_t size) {
  if (fromStart)
    stream.SetPosition(0);
  const int64_t end = size == 0 ? stream.Size() : stream.Position() + size;
  const int64_t total = end - stream.Position();
  if (withCountPrefix)
    WriteInt32(static_cast<int32_t>(total));
  StartWork(wmWrite, static_cast<int32_t>(total));
  try {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(FSendBufferSize, 1)));
    // The position is tracked here: asking a file for it costs a system call per piece.
    for (int64_t left = total; left > 0;) {
      const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
      const int64_t got = stream.Read(buffer.data(), n);
      if (got <= 0)
        throw EIdNoDataToRead();
      WriteBytes(buffer.data(), static_cast<int32_t>(got));
      left -= got;
    }
    if (FIOHandler)
      FIOHandler->FlushWrites();
  } catch (...) {
    FinishWork(wmWrite);
    throw;
  }
  FinishWork(wmWrite);
}

} // namespace vantari
