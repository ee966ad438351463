// SPDX-License-Identifier: GPL-3.0-or-later
// Telling a permission problem apart from a device that is just gone, and
// telling the user about it once per device rather than at every scan.
#include "usb/DevicePermissions.h"

#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs check in a process that may not open the root-owned file at path:
// as root, a child that drops to nobody; otherwise a file without any mode
// bits does it. Returns the check's result, or -1 when the setup failed.
int asUnprivileged(const std::string &path, int (*check)(const std::string &))
{
    if (::geteuid() != 0) {
        if (::chmod(path.c_str(), 0) != 0)
            return -1;
        return check(path);
    }
    if (::chmod(path.c_str(), 0600) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(255);
        ::_exit(check(path));
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

// Bit 0: the probe saw a permission problem. Bit 1: the first notice named
// the path and carried the fix. Bit 2: a second failure told nothing. Bit 3:
// after the path left the enumeration and came back, it was told again.
int noticeSequence(const std::string &path)
{
    int result = 0;
    if (probeDeviceAccess(path) == DeviceAccess::PermissionDenied)
        result |= 1;
    DevicePermissionNotices notices;
    const std::string first = notices.noticeForFailedOpen(path);
    if (first == devicePermissionMessage(path) && first.find(path) != std::string::npos &&
        first.find("udevadm") != std::string::npos)
        result |= 2;
    if (notices.noticeForFailedOpen(path).empty())
        result |= 4;
    notices.retainOnly({path + "-other"});
    if (notices.noticeForFailedOpen(path) == first)
        result |= 8;
    return result;
}

int forgetAndRetain(const std::string &path)
{
    int result = 0;
    DevicePermissionNotices notices;
    notices.noticeForFailedOpen(path);
    notices.retainOnly({path, "/dev/hidraw-elsewhere"});
    if (notices.noticeForFailedOpen(path).empty())
        result |= 1; // still present: still told
    notices.forget(path);
    if (!notices.noticeForFailedOpen(path).empty())
        result |= 2; // forgotten after it opened: told again when it fails anew
    return result;
}

} // namespace

class TestDevicePermissions : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void anOpenablePathIsGrantedAndNeverTold();
    void aMissingOrUnopenablePathIsNoPermissionProblem();
    void aDeniedPathIsToldOncePerAppearance();
    void forgetAndRetainOnlyDecideWhenToTellAgain();
    void theMessageGivesTheCommandThatInstallsTheRule();

private:
    QTemporaryDir *dir = nullptr;
    std::string node;
};

void TestDevicePermissions::init()
{
    dir = new QTemporaryDir();
    QVERIFY(dir->isValid());
    // A stand-in for a hidraw node: a file that opens for reading and writing.
    node = (dir->path() + "/hidraw9").toStdString();
    const int fd = ::open(node.c_str(), O_CREAT | O_WRONLY, 0600);
    QVERIFY(fd >= 0);
    ::close(fd);
    // The child of asUnprivileged must reach the file to be refused by it.
    QVERIFY(::chmod(dir->path().toLocal8Bit().constData(), 0755) == 0);
}

void TestDevicePermissions::cleanup()
{
    delete dir;
    dir = nullptr;
}

void TestDevicePermissions::anOpenablePathIsGrantedAndNeverTold()
{
    QCOMPARE(probeDeviceAccess(node), DeviceAccess::Granted);
    DevicePermissionNotices notices;
    QVERIFY(notices.noticeForFailedOpen(node).empty());
}

void TestDevicePermissions::aMissingOrUnopenablePathIsNoPermissionProblem()
{
    DevicePermissionNotices notices;
    const std::string missing = (dir->path() + "/hidraw404").toStdString();
    QCOMPARE(probeDeviceAccess(missing), DeviceAccess::Unavailable);
    QVERIFY(notices.noticeForFailedOpen(missing).empty());
    // A directory never opens for writing, whoever asks.
    QCOMPARE(probeDeviceAccess(dir->path().toStdString()), DeviceAccess::Unavailable);
    // Paths that are no device node at all, as the virtual bus hands out.
    QCOMPARE(probeDeviceAccess("vhid:0483:a355:1"), DeviceAccess::Unavailable);
    QCOMPARE(probeDeviceAccess(""), DeviceAccess::Unavailable);
}

void TestDevicePermissions::aDeniedPathIsToldOncePerAppearance()
{
    const int result = asUnprivileged(node, noticeSequence);
    if (result < 0)
        QSKIP("cannot set up a file this process may not open");
    QVERIFY2(result & 1, "the probe did not see a permission problem");
    QVERIFY2(result & 2, "the first failure did not produce the message");
    QVERIFY2(result & 4, "a second failure of the same path was told again");
    QVERIFY2(result & 8, "a path that came back was not told again");
}

void TestDevicePermissions::forgetAndRetainOnlyDecideWhenToTellAgain()
{
    const int result = asUnprivileged(node, forgetAndRetain);
    if (result < 0)
        QSKIP("cannot set up a file this process may not open");
    QVERIFY2(result & 1, "a path still present was told again");
    QVERIFY2(result & 2, "a forgotten path was not told again");
}

void TestDevicePermissions::theMessageGivesTheCommandThatInstallsTheRule()
{
    const QString message = QString::fromStdString(devicePermissionMessage("/dev/hidraw3"));
    QVERIFY(message.contains("/dev/hidraw3"));
    QVERIFY(message.contains("sudo tee /etc/udev/rules.d/70-zud-wheel.rules"));
    QVERIFY(message.contains("udevadm control --reload-rules"));
    QVERIFY(message.contains("udevadm trigger"));
    // The command is one line a user can paste.
    const QString command = message.mid(message.lastIndexOf('\n') + 1);
    QVERIFY(command.startsWith("echo '"));
    QVERIFY(command.contains("udevadm trigger"));
    QVERIFY(!QString::fromLatin1(zudUdevRule).contains('\''));
}

QTEST_GUILESS_MAIN(TestDevicePermissions)
#include "tst_device_permissions.moc"
