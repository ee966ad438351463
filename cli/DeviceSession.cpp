// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/DeviceSession.h"

#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <QMetaObject>
#include <QPointer>
#include <hidapi.h>

QString deviceKindName(DeviceKind kind)
{
    switch (kind) {
    case DeviceKind::WheelBase:
        return QStringLiteral("wheel base");
    case DeviceKind::Pedals:
        return QStringLiteral("pedals");
    case DeviceKind::Bootloader:
        return QStringLiteral("bootloader");
    }
    return QString();
}

bool deviceKindOf(const UsbDevice *device, DeviceKind &kind)
{
    if (qobject_cast<const UsbDeviceZudWheelBase *>(device))
        kind = DeviceKind::WheelBase;
    else if (qobject_cast<const UsbDeviceZudPedals *>(device))
        kind = DeviceKind::Pedals;
    else if (qobject_cast<const UsbDeviceZudBootloader *>(device))
        kind = DeviceKind::Bootloader;
    else
        return false;
    return true;
}

DeviceSession::DeviceSession(CliConsole &console, CliTimeouts timeouts)
    : console_(console), timeouts_(timeouts)
{
    waitTimer_.setSingleShot(true);
    connect(&waitTimer_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        wake();
    });
    connect(&manager_, &UsbManager::onDeviceConnected, this, &DeviceSession::onConnected);
    connect(&manager_, &UsbManager::onDeviceDisconnected, this, &DeviceSession::onDisconnected);
    connect(&manager_, &UsbManager::onDevicePermissionDenied, this,
            &DeviceSession::onPermissionDenied);
}

DeviceSession::~DeviceSession()
{
    // The manager announces every device as gone while it stops; nobody
    // needs to hear of it any more.
    disconnect(&manager_, nullptr, this, nullptr);
    manager_.stop();
}

void DeviceSession::start()
{
    manager_.start();
    // doRescanForZudDevices is the manager's pass for one product id, reached
    // through the meta-object system: the public rescanForZudDevices asks
    // for the wheel base and bootloader id only, and the pedals would wait
    // for the first timed pass.
    for (uint16_t productId : UsbManager::supportedProductIds()) {
        bool found = false;
        QMetaObject::invokeMethod(&manager_, "doRescanForZudDevices", Qt::DirectConnection,
                                  Q_RETURN_ARG(bool, found), Q_ARG(uint16_t, ZudUsbIds::vendorId),
                                  Q_ARG(uint16_t, productId));
    }
}

void DeviceSession::onConnected(UsbDevice *device)
{
    arrivals_.append(device->getId());
    wake();
}

void DeviceSession::onDisconnected(UsbDevice *device)
{
    ++departures_[device->getId()];
    wake();
}

void DeviceSession::onPermissionDenied(QString, QString message)
{
    console_.err(message);
}

DeviceIdentity DeviceSession::identityOf(UsbDevice &device, DeviceKind kind)
{
    DeviceIdentity identity;
    identity.kind = kind;
    identity.product = device.getProductString();
    identity.path = device.getId();
    identity.serial = device.getSerialNumber();
    // The ids as the HID layer found the interface.
    if (hid_device_info *info = hid_get_device_info(device.getHidDevice())) {
        identity.vendorId = info->vendor_id;
        identity.productId = info->product_id;
    }
    return identity;
}

QList<DeviceIdentity> DeviceSession::identities()
{
    QList<DeviceIdentity> result;
    for (UsbDevice *device : manager_.getDevices()) {
        DeviceKind kind;
        if (deviceKindOf(device, kind))
            result.append(identityOf(*device, kind));
    }
    return result;
}

int DeviceSession::select(const QString &path, const QList<DeviceKind> &kinds, QString &id)
{
    QStringList kindNames;
    for (DeviceKind kind : kinds)
        kindNames.append(deviceKindName(kind));
    const QString wanted = kindNames.join(QStringLiteral(" or "));

    QList<DeviceIdentity> candidates;
    const QList<DeviceIdentity> all = identities();
    for (const DeviceIdentity &identity : all)
        if (kinds.contains(identity.kind))
            candidates.append(identity);
    const auto describe = [](const DeviceIdentity &d) {
        return QStringLiteral("  %1  %2 (%3)")
            .arg(printableText(d.path), deviceKindName(d.kind), printableText(d.product));
    };

    if (!path.isEmpty()) {
        for (const DeviceIdentity &identity : all) {
            if (identity.path != path)
                continue;
            if (!kinds.contains(identity.kind)) {
                console_.err(QStringLiteral("The device at %1 is a %2; this command needs a %3.")
                                 .arg(path, deviceKindName(identity.kind), wanted));
                return CliExit::noDevice;
            }
            id = path;
            return CliExit::done;
        }
        console_.err(QStringLiteral("No supported device at %1.").arg(path));
        if (!all.isEmpty()) {
            console_.err(QStringLiteral("Devices found:"));
            for (const DeviceIdentity &identity : all)
                console_.err(describe(identity));
        }
        return CliExit::noDevice;
    }
    if (candidates.isEmpty()) {
        console_.err(QStringLiteral("No %1 found.").arg(wanted));
        return CliExit::noDevice;
    }
    if (candidates.size() > 1) {
        console_.err(QStringLiteral("%1 devices could be meant; choose one with --device PATH:")
                         .arg(candidates.size()));
        for (const DeviceIdentity &identity : candidates)
            console_.err(describe(identity));
        return CliExit::usage;
    }
    id = candidates.first().path;
    return CliExit::done;
}

UsbDevice *DeviceSession::device(const QString &id)
{
    return id.isEmpty() ? nullptr : manager_.getDevice(id);
}

QString DeviceSession::firstArrivalSince(int mark, const QList<DeviceKind> &kinds)
{
    for (int i = mark; i < arrivals_.size(); ++i) {
        DeviceKind kind;
        UsbDevice *arrived = device(arrivals_.at(i));
        if (arrived && deviceKindOf(arrived, kind) && kinds.contains(kind))
            return arrivals_.at(i);
    }
    return QString();
}

DeviceSession::Wait DeviceSession::waitFor(const std::function<bool()> &done, int timeoutMs,
                                           const QString &watchedId)
{
    const int departuresBefore = departures_.value(watchedId);
    const auto left = [&] {
        return !watchedId.isEmpty() &&
               (departures_.value(watchedId) != departuresBefore || !device(watchedId));
    };
    timedOut_ = false;
    // A stop stays requested: one that came while the last wait ended is
    // seen by the next.
    waitTimer_.start(timeoutMs);
    QEventLoop loop;
    loop_ = &loop;
    Wait result = Wait::Done;
    for (;;) {
        if (done()) {
            result = Wait::Done;
            break;
        }
        if (left()) {
            result = Wait::Left;
            break;
        }
        if (stopRequested_) {
            result = Wait::Interrupted;
            break;
        }
        if (timedOut_) {
            result = Wait::TimedOut;
            break;
        }
        loop.exec();
    }
    loop_ = nullptr;
    waitTimer_.stop();
    return result;
}

DeviceSession::Wait DeviceSession::waitForExchange(const std::function<bool()> &done, int timeoutMs,
                                                   const QString &id, bool departureEndsWait)
{
    for (;;) {
        const Wait wait = waitFor(done, timeoutMs, departureEndsWait ? id : QString());
        const UsbDevice *waiting = device(id);
        if (wait != Wait::TimedOut || !waiting || !waiting->isWaitingForTurn())
            return wait;
    }
}

DeviceSession::Wait DeviceSession::waitUntilSent(UsbDevice *device, int timeoutMs)
{
    if (!device)
        return Wait::Left;
    const QPointer<UsbDevice> sending(device);
    // A command that waits for another program's turn has not gone out yet.
    const auto sent = [&] {
        return sending && !sending->isRetryArmed() && !sending->isWaitingForTurn();
    };
    if (sent())
        return Wait::Done;
    // The repeats run on the device's own timer: look at it now and then.
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, &DeviceSession::wake);
    poll.start(20);
    return waitForExchange(sent, timeoutMs, sending->getId());
}

void DeviceSession::wake()
{
    if (loop_)
        loop_->quit();
}

void DeviceSession::restartWaitClock()
{
    if (waitTimer_.isActive())
        waitTimer_.start();
}

void DeviceSession::requestStop(const QString &cause)
{
    stopCause_ = cause;
    stopRequested_ = true;
    wake();
}
