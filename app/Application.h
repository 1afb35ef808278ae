#pragma once

#include <exception>
#include <functional>
#include <string>

namespace vantari {

// Process-wide application state: the title that captions every plain message and
// the default handling of an exception that leaves an event handler.
class TApplication {
public:
  const std::string &Title() const { return FTitle; }
  void SetTitle(std::string title) { FTitle = std::move(title); }

  // Shows the default error box (message, title, stop icon, OK) unless OnException
  // is assigned, in which case only OnException sees the message.
  void HandleException(const std::exception &error);

  // Runs handler as an event handler: whatever it throws ends in HandleException.
  void Guard(const std::function<void()> &handler);

  std::function<void(const std::string &message)> OnException;

private:
  std::string FTitle;
};

TApplication &Application();

} // namespace vantari
