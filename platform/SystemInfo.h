#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantari {

// The operating system's name and version for a support report, e.g. "Linux 6.1.0 x86_64" or
// "Windows 10.0.19045".
std::string OperatingSystemVersion();

// Bytes free for this user on the volume holding path (a folder or a file); -1 when the
// system cannot tell.
int64_t FreeDiskBytes(const std::string &path);

// Tells the person at the desktop, now, in a notification with a title and a body: on Linux
// through the session bus's notification service (when DBUS_SESSION_BUS_ADDRESS is set), on
// Windows as a notification-area balloon that stands for shownFor (the call blocks that long;
// Linux's notification service decides itself); false when there is none or it did not take the
// notice.
bool ShowDesktopNotice(const std::string &title, const std::string &body,
                       std::chrono::milliseconds shownFor = std::chrono::seconds(15));

} // namespace vantari
