#pragma once

#include "TlsSession.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace vantari {

// Fixed values of the program, chosen at build time (BuiltIn). Tests point the workflows at
// their own server and clock; the program never does.
struct TWorkflowConfig {
  using TClock = std::function<std::chrono::steady_clock::time_point()>;
  using TWallClock = std::function<std::time_t()>;

  std::string FtpHost;
  int32_t FtpPort = 21;
  std::string PingTarget;
  int32_t PingWaitCeiling = 0;        // longest single echo wait in ms; 0: the full 10 seconds
  std::string SecondArchive;          // empty: zipcode.bck beside the program or in its data folder
  TClock Clock;                       // empty: the steady clock
  TWallClock WallClock;               // the date of uploads; empty: the system's
  TTlsPolicy TlsPolicy = tpPreferred; // FTP over TLS; built in: VANTARI_TLS_POLICY

  static TWorkflowConfig BuiltIn();
  std::chrono::steady_clock::time_point Now() const {
    return Clock ? Clock() : std::chrono::steady_clock::now();
  }
  std::time_t WallNow() const { return WallClock ? WallClock() : std::time(nullptr); }
};

} // namespace vantari
