// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/UsbDevice.h"

#include "usb/DeviceLock.h"

#include <QPointer>
#include <cstring>
#include <cwchar>

namespace {
constexpr int productStringChars = 256;
constexpr int retryIntervalMs = 200;
constexpr int turnPollMs = 50;
int turnWaitMs = 10000;
} // namespace

UsbDevice::UsbDevice(QString id, hid_device *hidDevice)
    : QObject(nullptr), id(std::move(id)), hidDevice(hidDevice), lastReport{}
{
    wchar_t buffer[productStringChars] = {};
    hid_get_product_string(hidDevice, buffer, productStringChars);
    buffer[productStringChars - 1] = L'\0';
    productString = QString::fromWCharArray(buffer, int(std::wcslen(buffer)));

    wchar_t serial[productStringChars] = {};
    if (hid_get_serial_number_string(hidDevice, serial, productStringChars) == 0) {
        serial[productStringChars - 1] = L'\0';
        serialNumber = QString::fromWCharArray(serial, int(std::wcslen(serial)));
    }
    if (const hid_device_info *info = hid_get_device_info(hidDevice)) {
        vendorId = info->vendor_id;
        productId = info->product_id;
    }

    retryTimer.setSingleShot(true);
    retryTimer.setInterval(retryIntervalMs);
    connect(&retryTimer, &QTimer::timeout, this, &UsbDevice::retryOnTimeout);
    turnPollTimer.setInterval(turnPollMs);
    connect(&turnPollTimer, &QTimer::timeout, this, &UsbDevice::pollTurn);
}

UsbDevice::~UsbDevice()
{
    unlockDevice();
    hid_close(hidDevice);
}

int UsbDevice::read(uint8_t *report)
{
    return hid_read(hidDevice, report, zudUsbReportSize);
}

bool UsbDevice::write(const uint8_t *report, bool expectReply)
{
    // Copy first: report may point into lastReport itself (a retry).
    if (report != lastReport.data)
        std::memcpy(lastReport.data, report, zudUsbReportSize);
    const int written = hid_write(hidDevice, lastReport.data, zudUsbReportSize);
    if (written < 0 || expectReply)
        retryTimer.start();
    return written == zudUsbReportSize;
}

void UsbDevice::handleReport(const uint8_t *report, uint64_t)
{
    if (report[0] != zudJoystickReportId)
        retryTimer.stop();
}

bool UsbDevice::isStreamReport(const uint8_t *report) const
{
    return report[0] == zudJoystickReportId;
}

void UsbDevice::retryOnTimeout()
{
    write(lastReport.data, true);
}

QString UsbDevice::displayName() const
{
    return QStringLiteral("The %1 %2").arg(kindName(), serialNumber.isEmpty() ? id : serialNumber);
}

void UsbDevice::setTurnWaitMs(int milliseconds)
{
    turnWaitMs = milliseconds;
}

QString UsbDevice::activityOf(unsigned turns)
{
    // The exchange that best tells another program why it waits.
    if (turns & FirmwareTurn)
        return QStringLiteral("is updating the firmware");
    if (turns & SaveTurn)
        return QStringLiteral("is saving its profiles");
    if (turns & ResetTurn)
        return QStringLiteral("is restoring the factory defaults");
    if (turns & CenterTurn)
        return QStringLiteral("is centring the rim");
    if (turns & LoadTurn)
        return QStringLiteral("is loading its profiles");
    if (turns & BootloaderTurn)
        return QStringLiteral("is starting the bootloader");
    if (turns & TestForceTurn)
        return QStringLiteral("is applying a test force");
    return QStringLiteral("is busy with it");
}

bool UsbDevice::lockDevice(unsigned turns)
{
    if (!lock)
        lock = std::make_unique<DeviceLock>(serialNumber, vendorId, productId, id);
    if (lock->tryLock(activityOf(turns)))
        return true;
    // A folder that cannot be written holds nobody's lock: the exchange goes
    // ahead as it did before there were turns.
    return !lock->error().isEmpty();
}

void UsbDevice::unlockDevice()
{
    if (lock)
        lock->unlock();
}

void UsbDevice::takeTurn(Turn turn, std::function<void()> start,
                         std::function<void(const QString &)> refused)
{
    if (heldTurns != 0 || (waitingTurns.isEmpty() && lockDevice(turn))) {
        heldTurns |= turn;
        start();
        return;
    }
    for (WaitingTurn &waiting : waitingTurns) {
        if (waiting.turn == turn) {
            waiting.start = std::move(start);
            waiting.refused = std::move(refused);
            return;
        }
    }
    if (waitingTurns.isEmpty()) {
        turnWaitClock.start();
        turnPollTimer.start();
    }
    waitingTurns.append(WaitingTurn{turn, std::move(start), std::move(refused)});
}

void UsbDevice::endTurn(Turn turn)
{
    for (int i = 0; i < waitingTurns.size(); ++i) {
        if (waitingTurns.at(i).turn == turn) {
            waitingTurns.removeAt(i);
            break;
        }
    }
    if (waitingTurns.isEmpty())
        turnPollTimer.stop();
    if (!(heldTurns & turn))
        return;
    heldTurns &= ~unsigned(turn);
    if (heldTurns == 0)
        unlockDevice();
}

void UsbDevice::pollTurn()
{
    unsigned wanted = 0;
    for (const WaitingTurn &waiting : waitingTurns)
        wanted |= waiting.turn;
    const QList<WaitingTurn> due = waitingTurns;
    const QPointer<UsbDevice> alive(this);
    if (lockDevice(wanted)) {
        waitingTurns.clear();
        turnPollTimer.stop();
        heldTurns |= wanted;
        emit onTurnTaken(this);
        for (const WaitingTurn &waiting : due) {
            // A start may end this object's life (a signal's receiver).
            if (!alive)
                return;
            waiting.start();
        }
        return;
    }
    if (turnWaitClock.elapsed() < turnWaitMs)
        return;
    waitingTurns.clear();
    turnPollTimer.stop();
    const QString message = QStringLiteral("%1 is busy: %2. Try again when it has finished.")
                                .arg(displayName(), lock->holder());
    for (const WaitingTurn &waiting : due) {
        if (!alive)
            return;
        if (waiting.refused)
            waiting.refused(message);
        else
            emit onBusy(this, message);
    }
}
