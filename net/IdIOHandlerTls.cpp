#include "IdIOHandlerTls.h"

#include "IdException.h"

#include <algorithm>

namespace vantari {

namespace {

int32_t WaitMs(TIdTimeout timeout) {
  if (!timeout.Limited())
    return -2;
  return static_cast<int32_t>(std::min<int64_t>(timeout.Milliseconds(), INT32_MAX));
}

} // namespace

TIdIOHandlerTls::~TIdIOHandlerTls() {
  TIdIOHandlerTls::Shut();
}

void TIdIOHandlerTls::StartTls(TTlsContext &context, const std::string &hostName,
                               TTlsSession *resumeFrom, TIdTimeout timeout) {
  if (!IsOpen())
    throw EIdClosedSocket();
  FTls = std::make_unique<TTlsSession>(context, SocketHandle()->SocketId());
  FTls->SetTimeout(WaitMs(timeout));
  try {
    FTls->Connect(hostName, resumeFrom);
  } catch (...) {
    FTls.reset(); // nothing to close politely: the handshake never finished
    throw;
  }
}

void TIdIOHandlerTls::Shut() {
  // Bytes still gathered belong to a write that failed or was given up: the peer must see a
  // cut-off stream, never one ended by close_notify as if whole.
  const bool cutOff = !FGathered.empty();
  FGathered.clear();
  if (FTls && IsOpen()) {
    if (cutOff)
      SocketHandle()->ResetAndClose();
    else
      FTls->Shutdown(true);
  }
  FTls.reset();
  TIdIOHandlerSocket::Shut();
}

bool TIdIOHandlerTls::WaitReadable(TIdTimeout timeout) {
  FlushWrites();
  FReadLimit = timeout;
  if (FTls && FTls->HasPending())
    return true;
  return TIdIOHandlerSocket::WaitReadable(timeout);
}

int32_t TIdIOHandlerTls::ReceiveSome(void *buffer, int32_t length) {
  if (!FTls)
    return TIdIOHandlerSocket::ReceiveSome(buffer, length);
  if (!IsOpen())
    throw EIdClosedSocket();
  FlushWrites();
  FTls->SetTimeout(WaitMs(FReadLimit));
  return FTls->Read(buffer, length);
}

int32_t TIdIOHandlerTls::SendSome(const void *buffer, int32_t length, TIdTimeout timeout) {
  if (!FTls)
    return TIdIOHandlerSocket::SendSome(buffer, length, timeout);
  if (!IsOpen())
    throw EIdClosedSocket();
  FWriteLimit = timeout;
  FTls->SetTimeout(WaitMs(timeout));
  const auto *bytes = static_cast<const uint8_t *>(buffer);
  int32_t left = length;
  if (!FGathered.empty()) {
    const int32_t room = RecordSize - static_cast<int32_t>(FGathered.size());
    const int32_t taken = std::min(room, left);
    FGathered.insert(FGathered.end(), bytes, bytes + taken);
    bytes += taken;
    left -= taken;
    if (static_cast<int32_t>(FGathered.size()) < RecordSize)
      return length;
    FlushWrites();
  }
  // Whole records straight from the caller's buffer; the rest waits for more.
  for (; left >= RecordSize; left -= RecordSize, bytes += RecordSize)
    FTls->Write(bytes, RecordSize);
  if (left > 0) {
    FGathered.reserve(RecordSize);
    FGathered.assign(bytes, bytes + left);
  }
  return length;
}

void TIdIOHandlerTls::FlushWrites() {
  if (!FTls || FGathered.empty())
    return;
  if (!IsOpen())
    throw EIdClosedSocket();
  FTls->SetTimeout(WaitMs(FWriteLimit));
  try {
    FTls->Write(FGathered.data(), static_cast<int32_t>(FGathered.size()));
  } catch (...) {
    FGathered.clear(); // never sent again after a failure
    throw;
  }
  FGathered.clear();
}

} // namespace vantari
