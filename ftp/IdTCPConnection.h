#pragma once

#include "IdComponent.h"
#include "IdException.h"
#include "IdIOHandler.h"
#include "IdRFCReply.h"
#include "IdWait.h"
#include "Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantari {

// Failures of the command connection.
class EIdTCPConnectionError : public EIdException {
public:
  using EIdException::EIdException;
};
class EIdNotConnected : public EIdTCPConnectionError {
public:
  EIdNotConnected() : EIdTCPConnectionError("Not Connected") {}
};
class EIdAlreadyConnected : public EIdException {
public:
  EIdAlreadyConnected() : EIdException("Already connected.") {}
};
class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};
// A multi-line reply that goes on past MaxReplyLines lines or MaxReplyBytes bytes.
class EIdReplyTooLong : public EIdException {
public:
  EIdReplyTooLong() : EIdException("The reply is too long.") {}
};
class EIdNotEnoughDataInBuffer : public EIdException {
public:
  EIdNotEnoughDataInBuffer() : EIdException("Not enough data in buffer.") {}
};
class EIdNoDataToRead : public EIdException {
public:
  EIdNoDataToRead() : EIdException("No data to read.") {}
};
// A reply code outside the allowed list; the message is the reply's text, each
// line followed by CR LF.
class EIdProtocolReplyError : public EIdException {
public:
  EIdProtocolReplyError(int32_t code, const std::string &message)
      : EIdException(message), FReplyErrorCode(code) {}
  int32_t ReplyErrorCode() const noexcept { return FReplyErrorCode; }

private:
  int32_t FReplyErrorCode;
};

// A growable byte buffer with stream behaviour. Removing bytes from the front
// reports the count through OnBytesRemoved.
class TIdSimpleBuffer : public TStream {
public:
  int64_t Read(void *buffer, int64_t count) override;
  int64_t Write(const void *buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int64_t Size() override { return FSize - Offset(); }

  // The first count bytes (as a string), then Remove(count).
  std::string Extract(int64_t count);
  // Raises EIdNotEnoughDataInBuffer "Not enough data in buffer." when count > Size().
  virtual void Remove(int64_t count);
  // Logical start of the content.
  uint8_t *Memory() { return FData.data() + Offset(); }

  std::function<void(TIdSimpleBuffer *Sender, int64_t count)> OnBytesRemoved;

protected:
  // Length of a leading part that is no longer content (0 for a plain buffer).
  virtual int64_t Offset() const { return 0; }
  void Compact(int64_t physicalOffset);
  void Reset();

private:
  void Reserve(int64_t physicalSize);

  std::vector<uint8_t> FData; // capacity; only the first FSize bytes are meaningful
  int64_t FSize = 0;          // physical size
  int64_t FPosition = 0;      // physical position
};

// The input queue: consuming bytes only advances a prefix, and the memory moves
// once 32768 bytes are consumed (or never, when everything was consumed).
class TIdManagedBuffer : public TIdSimpleBuffer {
public:
  static constexpr int64_t CompactThreshold = 32768;

  void Remove(int64_t count) override;
  // Empties the buffer without reporting removed bytes.
  void Clear();
  int64_t ConsumedBytes() const { return FConsumedBytes; }

protected:
  int64_t Offset() const override { return FConsumedBytes; }

private:
  int64_t FConsumedBytes = 0;
};

enum TIdMaxLineAction { maException, maSplit };

using TIdReplyCodes = std::vector<int16_t>;

// One TCP connection with an input queue, line and reply reading, command sending
// and stream transfers. Every call blocks until done or raises.
class TIdTCPConnection : public TIdComponent {
public:
  TIdTCPConnection();
  ~TIdTCPConnection() override;

  virtual void NotifyDisconnected();
  // Empties the input queue and forgets that the peer closed.
  virtual void ResetReadState();
  // Drops the socket once the peer's close was seen; raises EIdConnClosedGracefully
  // when raiseIfClosed and nothing (or, with ignoreQueue, regardless) is queued.
  virtual void CheckPeerClosed(bool raiseIfClosed, bool ignoreQueue);
  // An empty allowed list accepts every code; otherwise RaiseReplyError for others.
  virtual int16_t CheckReplyCode(int16_t code, const TIdReplyCodes &allowed);
  virtual bool IsConnected();
  // Closes from this side: status events, socket closed, owned transport freed.
  virtual void CloseConnection();
  virtual void DropSocket();
  virtual int16_t ExpectReply(const TIdReplyCodes &allowed);
  // Raises EIdProtocolReplyError for LastReply.
  [[noreturn]] virtual void RaiseReplyError();
  // Receives once into the queue; -1 on a time-out when raiseOnTimeout is false.
  virtual int32_t FillInputQueue(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout);
  // One line up to the terminator (LF also ends CR LF lines); see MaxLineLength.
  virtual std::string ReadLine(const std::string &terminator = "\n", int32_t timeoutMs = -1,
                               int32_t maxLength = -1);
  // Writes text + CR LF at once, then reads the reply and checks its code.
  virtual int16_t SendCommand(const std::string &text, const TIdReplyCodes &allowed);
  virtual void WriteText(const std::string &text);
  // Sends text followed by CR LF, without waiting for anything.
  virtual void WriteLine(const std::string &text);
  // Sends the stream (all of it from 0 when fromStart) in SendBufferSize pieces,
  // as write work.
  virtual void WriteFromStream(TStream &stream, bool fromStart = true, bool withCountPrefix = false,
                               int64_t size = 0);

  // Skips blank lines; returns the line trimmed.
  std::string ReadNonBlankLine(int32_t maxTries);
  // Reads a (multi-line) reply into LastReply and returns its code. The whole reply must
  // arrive within ReplyTimeout (EIdReadTimeout) and stay within MaxReplyLines lines and
  // MaxReplyBytes bytes, blank lines before it included (EIdReplyTooLong).
  int16_t ReadReply();
  // The same with a limit of its own for this reply.
  int16_t ReadReplyWithin(TIdTimeout limit);
  // Blocks until count bytes are queued, then consumes them into buffer.
  void ReadBytes(void *buffer, int32_t count);
  // Receives into the stream: byteCount bytes, or everything until the peer closes.
  void ReadToStream(TStream &stream, int64_t byteCount, bool untilClosed);
  void WriteBytes(const void *buffer, int32_t count);
  // code -1 accepts every reply; any other value only itself.
  int16_t SendCommand(const std::string &text, int16_t code);

  TIdIOHandler *IOHandler() const { return FIOHandler; }
  // Installs a transport that somebody else owns.
  void SetIOHandler(TIdIOHandler *handler);
  bool OwnsIOHandler() const { return FOwnedIOHandler != nullptr; }

  int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int32_t value) { FMaxLineLength = value; }
  TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction value) { FMaxLineAction = value; }
  int32_t ReadTimeout() const { return FReadTimeout; }
  void SetReadTimeout(int32_t value) { FReadTimeout = value; }
  // The longest one whole reply may take to arrive (ms); 0 = no limit.
  int32_t ReplyTimeout() const { return FReplyTimeout; }
  void SetReplyTimeout(int32_t value) { FReplyTimeout = value; }
  // The longest a send may wait for the peer to take bytes (ms); 0 = no limit.
  void SetWriteTimeout(int32_t value) { FWriteTimeout = value; }
  int32_t RecvBufferSize() const { return FRecvBufferSize; }
  void SetRecvBufferSize(int32_t value) { FRecvBufferSize = value; }
  int32_t SendBufferSize() const { return FSendBufferSize; }
  void SetSendBufferSize(int32_t value) { FSendBufferSize = value; }

  TIdManagedBuffer &InputQueue() { return FInputQueue; }
  bool PeerClosed() const { return FPeerClosed; }
  bool LastLineSplit() const { return FLastLineSplit; }
  bool LastLineTimedOut() const { return FLastLineTimedOut; }
  TIdRFCReply &GreetingReply() { return FGreetingReply; }
  TIdRFCReply &LastReply() { return FLastReply; }

  std::function<void(TIdTCPConnection *Sender)> OnDisconnected;

protected:
  // A reply longer than this is refused (EIdReplyTooLong).
  static constexpr int32_t MaxReplyLines = 500;
  static constexpr int32_t MaxReplyBytes = 65536;
  // Installs a transport that this connection created and frees at its next close.
  void AdoptIOHandler(std::unique_ptr<TIdIOHandler> handler);
  void FreeIOHandler();

private:
  std::string SplitOrRaise(int32_t maxLength);
  TIdTimeout ReadLimit(int32_t timeoutMs) const;
  int32_t ReceiveIntoQueue(bool raiseIfDisconnected);
  void CheckSent(int32_t n);
  void EndRead(TStream &stream);
  void WriteInt32(int32_t value);
  int32_t ReadInt32();

  TIdIOHandler *FIOHandler = nullptr;
  std::unique_ptr<TIdIOHandler> FOwnedIOHandler;
  int32_t FMaxLineLength = 16384;
  TIdMaxLineAction FMaxLineAction = maException;
  int32_t FReadTimeout = 0;
  int32_t FReplyTimeout = 0;
  int32_t FWriteTimeout = 0;
  TIdDeadline FReplyDeadline; // while a reply is read
  int32_t FRecvBufferSize = 32768;
  int32_t FSendBufferSize = 32768;
  TIdManagedBuffer FInputQueue;
  TIdSimpleBuffer FReceiveChunk;
  bool FPeerClosed = false;
  bool FLastLineSplit = false;
  bool FLastLineTimedOut = false;
  TIdRFCReply FGreetingReply;
  TIdRFCReply FLastReply;
};

} // namespace vantari
