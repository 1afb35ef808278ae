#pragma once

#include <optional>
#include <string>

namespace vantari {

// The one password of the nightly backup, kept for this user alone and refreshed by every
// successful login while the backup is on. On Linux it is the owner-only (0600) file
// ConfigFolder() + "password" that the systemd service names; on Windows it is protected with
// DPAPI for this user in ConfigFolder() + "nightly.dat", and a plain "password" file of an
// earlier version is taken over once and removed.

// Keeps password; false when it could not be written (the one kept before stays).
bool SaveNightlyCredential(const std::string &password);

// The kept password; nothing when there is none or it cannot be read or unprotected.
std::optional<std::string> LoadNightlyCredential();

// Whether a password is kept (without reading it).
bool HasNightlyCredential();

// Forgets it; true when none is left.
bool RemoveNightlyCredential();

// After a successful login: while the nightly backup is on (a password is kept), the kept one
// becomes this one, so that a password changed in the window never leaves the backup behind.
void RefreshNightlyCredential(const std::string &password);

} // namespace vantari
