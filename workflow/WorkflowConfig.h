#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace vantari {

// Fixed values of the program, chosen at build time (BuiltIn). Tests point the workflows at
// their own server and clock; the program never does.
struct TWorkflowConfig {
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  std::string FtpHost;
  int32_t FtpPort = 21;
  std::string PingTarget;
  int32_t PingWaitCeiling = 0; // longest single echo wait in ms; 0: the full 10 seconds
  std::string SecondArchive;   // empty: zipcode.bck beside the program or in its data folder
  TClock Clock;                // empty: the steady clock

  static TWorkflowConfig BuiltIn();
  std::chrono::steady_clock::time_point Now() const {
    return Clock ? Clock() : std::chrono::steady_clock::now();
  }
};

} // namespace vantari
