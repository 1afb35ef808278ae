#include "IdHostLookup.h"

#include "IdWait.h"

#include <memory>
#include <system_error>
#include <thread>

namespace vantari {

namespace {

// The longest a host lookup may take before the connect gives up on it, and how often the
// caller looks whether it ended when the system gives no signal to wait on.
constexpr int64_t LookupTimeoutMs = 30000;
constexpr int64_t LookupPollMs = 20;

void Await(const TIdHostLookup &lookup, const TIdDeadline &deadline) {
  const TIdWaitSocket signal{lookup.EndedSignal(), weReadable};
  const bool polled = signal.Socket == Id_INVALID_SOCKET;
  while (!lookup.Ended() && !deadline.Passed())
    IdWait(signal, polled ? TIdDeadline::Sooner(deadline, TIdDeadline(TIdTimeout::Ms(LookupPollMs)))
                          : deadline);
}

// A thread whose lookup ended is joined; one still looking is left to finish alone.
void Leave(std::thread &worker, const TIdHostLookup &lookup) {
  if (!worker.joinable())
    return;
  if (lookup.Ended())
    worker.join();
  else
    worker.detach();
}

} // namespace

void TIdHostLookup::Run() {
  Resolve();
  FEnded.store(true);
  SignalEnded();
}

int32_t IdLookUpHost(const std::string &name, std::string &ip) {
  // The thread holds a reference of its own, so a caller that stopped waiting leaves it safe.
  const auto lookup = std::make_shared<TIdHostLookup>(name);
  std::thread worker;
  try {
    // Made by the caller: it resolves in the caller's network namespace.
    worker = std::thread([lookup] { lookup->Run(); });
  } catch (const std::system_error &) {
    lookup->Run(); // no thread to spare: a plain blocking lookup
  }
  try {
    Await(*lookup, TIdDeadline(TIdTimeout::Ms(LookupTimeoutMs)));
  } catch (...) {
    Leave(worker, *lookup);
    throw;
  }
  Leave(worker, *lookup);
  if (!lookup->Ended())
    return Id_WSAETIMEDOUT;
  ip = lookup->Address();
  return lookup->Code();
}

} // namespace vantari
