#include "IdComponent.h"

#include "IdException.h"
#include "IdStack.h"

#include <mutex>

namespace vantari {

namespace {

// Creation and destruction of the shared stack are the only things serialised.
std::mutex stackLock;
int stackUsers = 0;
std::unique_ptr<TIdStack> sharedStack;

} // namespace

TIdStack &SharedStack() {
  if (!sharedStack) {
    throw EIdStackError("No socket stack: no network component exists.");
  }
  return *sharedStack;
}

bool HasSharedStack() {
  return sharedStack != nullptr;
}

TIdComponent::TIdComponent() {
  std::lock_guard<std::mutex> guard(stackLock);
  if (stackUsers == 0) {
    sharedStack = CreateStack();
  }
  ++stackUsers;
}

TIdComponent::~TIdComponent() {
  std::lock_guard<std::mutex> guard(stackLock);
  if (stackUsers == 1) {
    sharedStack.reset();
  }
  --stackUsers;
}

int TIdComponent::StackUsers() {
  std::lock_guard<std::mutex> guard(stackLock);
  return stackUsers;
}

void TIdComponent::StartWork(TWorkMode AWorkMode, int32_t ASize) {
  TWorkStateRec &state = FWorkState[AWorkMode];
  ++state.Level;
  if (state.Level == 1) {
    state.CountMax = ASize;
    state.Count = 0;
    if (OnWorkBegin) {
      OnWorkBegin(this, AWorkMode, ASize);
    }
  }
}

void TIdComponent::CountWork(TWorkMode AWorkMode, int32_t ACount) {
  TWorkStateRec &state = FWorkState[AWorkMode];
  if (state.Level > 0) {
    state.Count += ACount;
    if (OnWork) {
      OnWork(this, AWorkMode, state.Count);
    }
  }
}

void TIdComponent::FinishWork(TWorkMode AWorkMode) {
  TWorkStateRec &state = FWorkState[AWorkMode];
  if (state.Level == 1 && OnWorkEnd) {
    OnWorkEnd(this, AWorkMode);
  }
  // An unmatched finish must not leave a negative level that would swallow the next work.
  if (state.Level > 0) {
    --state.Level;
  }
}

const char *StatusText(TIdStatus AStatus) {
  switch (AStatus) {
  case hsResolving:
    return "Resolving hostname %s.";
  case hsConnecting:
    return "Connecting to %s.";
  case hsConnected:
    return "Connected.";
  case hsDisconnecting:
    return "Disconnecting.";
  case hsDisconnected:
    return "Disconnected.";
  case hsStatusText:
  case ftpTransfer:
  case ftpReady:
  case ftpAborted:
    break;
  }
  return "%s";
}

void TIdComponent::ReportStatus(TIdStatus AStatus, const std::string &AArgument) {
  if (!OnStatus) {
    return;
  }
  // Every text has at most one %s; texts without one ignore the argument.
  std::string text = StatusText(AStatus);
  const auto at = text.find("%s");
  if (at != std::string::npos) {
    text.replace(at, 2, AArgument);
  }
  OnStatus(this, AStatus, text);
}

} // namespace vantari
