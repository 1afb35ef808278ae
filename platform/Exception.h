#pragma once

#include <exception>
#include <string>

namespace vantari {

// Root of every failure the program raises: a message and nothing else.
// The message is the exact text shown to the user.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string &Message() const noexcept { return FMessage; }
  const char *what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// printf-style formatting of the established message templates
// ("Unable to write to %s", "Socket Error # %d\r\n%s", ...).
std::string Format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

} // namespace vantari
