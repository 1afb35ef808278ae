#pragma once

#include "IdComponent.h"

#include <string>
#include <vector>

namespace vantari::test {

// A fresh temporary folder, removed with its content.
class TScratchDir {
public:
  TScratchDir();
  ~TScratchDir();
  TScratchDir(const TScratchDir &) = delete;
  TScratchDir &operator=(const TScratchDir &) = delete;
  std::string PathOf(const std::string &name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

std::string FileBytes(const std::string &path);
void PutFile(const std::string &path, const std::string &bytes);
// Deterministic bytes that differ at every offset of interest.
std::string PatternBytes(size_t count, unsigned seed = 1);

// Records the work events a component raises, in order.
struct TWorkLog {
  struct TEntry {
    std::string Kind; // "begin", "work", "end"
    TWorkMode Mode;
    int32_t Value;
    TIdComponent *Sender;
  };
  std::vector<TEntry> Entries;

  void Attach(TIdComponent &component);
  std::vector<int32_t> Counts() const;
};

} // namespace vantari::test
