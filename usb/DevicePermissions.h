// SPDX-License-Identifier: GPL-3.0-or-later
// Why a supported device that discovery found could not be opened, and what
// to tell the user when the reason is a missing permission. Plain C++ so
// that it builds for every platform without Qt.
//
// Use: when hid_open_path fails for an enumerated path, pass the path to
// DevicePermissionNotices::noticeForFailedOpen; a non-empty result is the
// text to show, once. After every enumeration pass, retainOnly() with the
// paths seen, so that a device that comes back later is told about again.
#pragma once

#include <set>
#include <string>
#include <vector>

enum class DeviceAccess {
    Granted,          // the path opens for reading and writing
    PermissionDenied, // the path exists but the user may not open it
    Unavailable,      // gone, busy, not a device node, or any other reason
};

// Opens the device path for reading and writing the way hidapi does, closes
// it again, and says what stood in the way.
DeviceAccess probeDeviceAccess(const std::string &path);

// The udev rule that grants the logged-in user access to every supported
// device, as installed in 70-zud-wheel.rules.
extern const char *const zudUdevRule;

// The text that tells the user the device at path cannot be opened for want
// of permission, with the command that fixes it on this platform.
std::string devicePermissionMessage(const std::string &path);

class DevicePermissionNotices {
public:
    // After an open of path failed: the message to show when the failure is
    // a permission problem that has not been told for this path yet; empty
    // otherwise.
    std::string noticeForFailedOpen(const std::string &path);
    // Forgets every told path that is not among presentPaths.
    void retainOnly(const std::vector<std::string> &presentPaths);
    // Forgets one path, for instance once it has opened.
    void forget(const std::string &path) { told.erase(path); }

private:
    std::set<std::string> told;
};
