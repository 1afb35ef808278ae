#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace vantari {

enum TWorkMode { wmRead = 0, wmWrite = 1 };

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

class TIdComponent;

using TWorkBeginEvent =
    std::function<void(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(TIdComponent *Sender, TWorkMode AWorkMode, int32_t AWorkCount)>;
using TWorkEndEvent = std::function<void(TIdComponent *Sender, TWorkMode AWorkMode)>;
using TIdStatusEvent =
    std::function<void(TIdComponent *ASender, TIdStatus AStatus, const std::string &AStatusText)>;

struct TWorkStateRec {
  int32_t Count = 0;    // bytes counted since the work began
  int32_t CountMax = 0; // total announced at the start, 0 when unknown
  int32_t Level = 0;    // nesting depth
};

// Base of every network component: work-progress and status events, and one
// user of the process-wide socket stack for as long as it lives.
class TIdComponent {
public:
  TIdComponent();
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent &) = delete;
  TIdComponent &operator=(const TIdComponent &) = delete;

  // Only the outermost level of nested work on one mode raises OnWorkBegin / OnWorkEnd.
  virtual void StartWork(TWorkMode AWorkMode, int32_t ASize);
  // Adds count while work is open on the mode and raises OnWork with the running total.
  virtual void CountWork(TWorkMode AWorkMode, int32_t ACount);
  virtual void FinishWork(TWorkMode AWorkMode);

  // Raises OnStatus (when assigned) with the status text filled with the argument.
  void ReportStatus(TIdStatus AStatus, const std::string &AArgument = std::string());

  const TWorkStateRec &WorkState(TWorkMode AWorkMode) const { return FWorkState[AWorkMode]; }

  // Live components, i.e. users of SharedStack().
  static int StackUsers();

  TIdStatusEvent OnStatus;
  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;

private:
  std::array<TWorkStateRec, 2> FWorkState{};
};

// The format text of each status ("Resolving hostname %s.", "Connected.", ...).
const char *StatusText(TIdStatus AStatus);

} // namespace vantari
