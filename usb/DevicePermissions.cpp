// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/DevicePermissions.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <iterator>

const char *const zudUdevRule = "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0483\", "
                                "ATTRS{idProduct}==\"a355|a111|a112|5c05|a110\", TAG+=\"uaccess\"";

#ifdef _WIN32

DeviceAccess probeDeviceAccess(const std::string &path)
{
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return DeviceAccess::Granted;
    }
    return GetLastError() == ERROR_ACCESS_DENIED ? DeviceAccess::PermissionDenied
                                                 : DeviceAccess::Unavailable;
}

std::string devicePermissionMessage(const std::string &path)
{
    // Windows denies a HID device to a program while another one holds it
    // exclusively; there is no permission to grant.
    return "The ZUD device " + path +
           " is attached, but Windows denied access to it.\n\n"
           "Close other programs that may be using the device, then unplug it and plug it in "
           "again.";
}

#else

DeviceAccess probeDeviceAccess(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return DeviceAccess::Granted;
    }
    return errno == EACCES || errno == EPERM ? DeviceAccess::PermissionDenied
                                             : DeviceAccess::Unavailable;
}

std::string devicePermissionMessage(const std::string &path)
{
    return "The ZUD device " + path +
           " is attached, but you have no permission to open it.\n\n"
           "Install the udev rule that gives the logged-in user access to the wheel base, the "
           "pedals and the bootloader, and the device appears within a second:\n\n"
           "echo '" +
           std::string(zudUdevRule) +
           "' | sudo tee /etc/udev/rules.d/70-zud-wheel.rules && sudo udevadm control "
           "--reload-rules && sudo udevadm trigger --subsystem-match=hidraw";
}

#endif

std::string DevicePermissionNotices::noticeForFailedOpen(const std::string &path)
{
    if (told.count(path) || probeDeviceAccess(path) != DeviceAccess::PermissionDenied)
        return std::string();
    told.insert(path);
    return devicePermissionMessage(path);
}

void DevicePermissionNotices::retainOnly(const std::vector<std::string> &presentPaths)
{
    const std::set<std::string> present(presentPaths.begin(), presentPaths.end());
    for (auto it = told.begin(); it != told.end();)
        it = present.count(*it) ? std::next(it) : told.erase(it);
}
