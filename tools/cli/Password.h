#pragma once

#include "Exception.h"

#include <string>

namespace vantari {

// The password of an unattended run: from VANTARI_PASSWORD, else from a file that only its
// owner can read. Raises Exception with the reason when neither gives one it may use.
class TPasswordSource {
public:
  static constexpr const char *EnvironmentName = "VANTARI_PASSWORD";

  // file: the --password-file argument, empty when none was given; nightly: the password kept
  // for the nightly backup instead.
  static std::string Read(const std::string &file, bool nightly = false);
  // The first line of a file owned by this user, with no permission for group or others.
  static std::string ReadFile(const std::string &file);
};

// No password at all: the command line was incomplete (exit status 2).
class ENoPassword : public Exception {
  using Exception::Exception;
};

} // namespace vantari
