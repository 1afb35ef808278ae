#pragma once

#include "IdComponent.h"

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
  // Opens, binds, resolves and connects; timeout -1 = plain blocking connect.
  virtual void ConnectTo(const std::string & /*host*/, int32_t /*port*/, int32_t /*timeout*/,
                         int32_t /*boundPortMax*/, int32_t /*boundPortMin*/, int32_t /*boundPort*/,
                         const std::string & /*boundIP*/) {}
  virtual bool IsOpen() = 0;
  virtual void Prepare() {}
  // ms: -2 no limit, 0 poll once, > 0 longest wait.
  virtual bool WaitReadable(int32_t ms) = 0;
  // One receive / send; the OS result (bytes, 0 = peer closed, -1 = error).
  virtual int32_t ReceiveSome(void *buffer, int32_t length) = 0;
  virtual int32_t SendSome(const void *buffer, int32_t length) = 0;
};

} // namespace vantari
