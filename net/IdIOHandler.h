#pragma once

#include "IdComponent.h"
#include "IdStack.h"
#include "IdWait.h"

#include <cstdint>
#include <string>

namespace vantari {

// What a TCP connection reads and writes through.
class TIdIOHandler : public TIdComponent {
public:
  // Derived transports must call Shut in their own destructor.
  ~TIdIOHandler() override = default;

  virtual void AfterAccepted() {}
  virtual void Shut() {}
  // Opens, binds, resolves and connects within the limit (lookup included).
  virtual void ConnectTo(const std::string & /*host*/, int32_t /*port*/, TIdTimeout /*timeout*/,
                         int32_t /*boundPortMax*/, int32_t /*boundPortMin*/, int32_t /*boundPort*/,
                         const std::string & /*boundIP*/) {}
  virtual bool IsOpen() = 0;
  virtual void Prepare() {}
  virtual bool WaitReadable(TIdTimeout timeout) = 0;
  // One receive / send; the OS result (bytes, 0 = peer closed, -1 = error). A send that
  // cannot move a byte within the limit gives -1 with 10060.
  virtual int32_t ReceiveSome(void *buffer, int32_t length) = 0;
  virtual int32_t SendSome(const void *buffer, int32_t length, TIdTimeout timeout) = 0;
  // Sends what SendSome gathered (a transport may hold bytes back to send them in larger
  // pieces); raises as SendSome's failures do. Bytes still held at Shut are dropped.
  virtual void FlushWrites() {}
  // The socket a wait can watch for this transport; Id_INVALID_SOCKET when none.
  virtual TIdStackSocketHandle WaitSocket() const { return Id_INVALID_SOCKET; }
};

} // namespace vantari
