#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantari {

// The per-user log the support desk asks for: one line per step, "YYYY-MM-DD HH:MM:SS [pid]
// text", in StateFolder()'s vantari.log. At 1 MB the file becomes vantari.log.1 (the
// one before it goes), so that two files at most are kept. A line that cannot be written is
// dropped: the log never stops the work it records.
class TLog {
public:
  static constexpr int64_t RotateBytes = 1024 * 1024;

  // The log file; without one, StateFolder()'s vantari.log as it is at each write (the
  // folder follows the environment).
  explicit TLog(std::string path = {}) : FPath(std::move(path)) {}
  std::string Path() const;
  std::string PreviousPath() const { return Path() + ".1"; }

  void Write(const std::string &text);
  // The last count lines, the older file's included, oldest first.
  std::vector<std::string> Tail(size_t count) const;

  // A text (a password) that is written as "***" wherever it would appear in this process's
  // log lines and failure details.
  static void Hide(const std::string &secret);
  static std::string Masked(std::string text);

private:
  void RotateBefore(const std::string &path, int64_t bytes);

  std::string FPath;
};

// The process's log (the default file).
TLog &ProgramLog();
// Writes one line to the process's log.
void WriteLog(const std::string &text);

} // namespace vantari
