#include "Log.h"

#include "DosDate.h"
#include "DurableFile.h"
#include "Exception.h"
#include "FileSystem.h"
#include "FolderOps.h"
#include "Paths.h"
#include "Stream.h"
#include "SystemInfo.h"

#include <ctime>
#include <mutex>
#include <set>
#include <unistd.h>

namespace vantari {

namespace {

std::mutex &Lock() {
  static std::mutex lock;
  return lock;
}

std::set<std::string> &Secrets() {
  static std::set<std::string> secrets;
  return secrets;
}

std::string Stamp() {
  const std::tm local = LocalTime(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// A file's lines; nothing for a missing or unreadable one.
std::vector<std::string> Lines(const std::string &path) {
  std::string content;
  if (ReadSmallFile(path, 2 * TLog::RotateBytes, content) != TSmallRead::srRead)
    return {};
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos)
      end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

} // namespace

std::string TLog::Path() const {
  return FPath.empty() ? StateFolder() + "vantari.log" : FPath;
}

void TLog::Hide(const std::string &secret) {
  std::lock_guard<std::mutex> guard(Lock());
  if (!secret.empty())
    Secrets().insert(secret);
}

std::string TLog::Masked(std::string text) {
  std::lock_guard<std::mutex> guard(Lock());
  for (const std::string &secret : Secrets())
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  return text;
}

void TLog::RotateBefore(const std::string &path, int64_t bytes) {
  const int64_t size = FileExists(path) ? FileSize(path) : 0;
  if (size <= 0 || size + bytes <= RotateBytes)
    return;
  RemoveEntry(path + ".1");
  MoveNoReplace(path, path + ".1");
}

void TLog::Write(const std::string &text) {
  std::string line = Masked(text);
  for (char &c : line)
    if (c == '\n' || c == '\r')
      c = ' ';
  line = Stamp() + " [" + std::to_string(::getpid()) + "] " + line + "\n";
  std::lock_guard<std::mutex> guard(Lock());
  try {
    const std::string path = Path();
    RotateBefore(path, static_cast<int64_t>(line.size()));
    TFileStream file(path, FileExists(path) ? fmOpenReadWrite : fmCreate);
    file.Seek(0, TSeekOrigin::soEnd);
    file.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
  } catch (const Exception &) {
    // A full disk or a read-only folder: the step goes on without its line.
  }
}

std::vector<std::string> TLog::Tail(size_t count) const {
  std::lock_guard<std::mutex> guard(Lock());
  std::vector<std::string> lines = Lines(Path());
  if (lines.size() < count) {
    std::vector<std::string> older = Lines(PreviousPath());
    older.insert(older.end(), lines.begin(), lines.end());
    lines = std::move(older);
  }
  if (lines.size() > count)
    lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
  return lines;
}

TLog &ProgramLog() {
  static TLog log;
  return log;
}

void WriteLog(const std::string &text) {
  ProgramLog().Write(text);
}

} // namespace vantari
