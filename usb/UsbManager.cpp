// SPDX-License-Identifier: GPL-3.0-or-later
#include "usb/UsbManager.h"

#include "transport/HidSplitRead.h"
#include "usb/RegistryLock.h"
#include "usb/UsbClock.h"
#include "usb/UsbManagerReaderThread.h"

#include <QPair>

#include <chrono>
#include <utility>
#include <vector>

namespace {
constexpr int rescanIntervalMs = 1000;
constexpr int readerWaitTimeoutMs = 500;
// A paused reader looks at its flags this often instead of spinning a core.
constexpr int pausedPollMs = 1;
// A device's stream is handed to the GUI thread every 4 ms, a quarter of
// the live view's 16 ms: the GUI thread wakes 250 times a second instead of
// 1000, and each shown update is at most 4 ms older than it was.
constexpr uint64_t deliveryHoldMicros = 4000;

// The batch's clock: monotonic, unlike the reports' wall-clock read times.
uint64_t monotonicMicros()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}
} // namespace

UsbManager::UsbManager(UsbDeviceFactory factory)
    : QObject(nullptr), createDevice(std::move(factory)), batch(deliveryHoldMicros)
{
    hid_init();

    qRegisterMetaType<uint64_t>("uint64_t");

    rescanTimer.setTimerType(Qt::CoarseTimer);
    // The periodic pass covers every supported product id, so that pedals and
    // the other bootloader ids are found as well as the 0xA355 devices.
    connect(&rescanTimer, &QTimer::timeout, this,
            [this] { rescan(ZudUsbIds::vendorId, supportedProductIds()); });
}

UsbManager::~UsbManager()
{
    stop();
    hid_exit();
}

const QList<uint16_t> &UsbManager::supportedProductIds()
{
    static const QList<uint16_t> ids{ZudUsbIds::wheelBaseOrBootloader, ZudUsbIds::wheelBase,
                                     ZudUsbIds::pedals, ZudUsbIds::bootloader,
                                     ZudUsbIds::bootloaderAlt};
    return ids;
}

void UsbManager::start(bool startPaused)
{
    running = true;
    paused = startPaused;
    {
        std::lock_guard<std::mutex> lock(idleMutex);
        idleWakeRequested = false;
    }
    rescanTimer.start(rescanIntervalMs);
    waitTimeoutMs = readerWaitTimeoutMs;
    readerThread = new UsbManagerReaderThread(this);
    readerThread->start(QThread::InheritPriority);
}

void UsbManager::pause()
{
    paused = true;
}

void UsbManager::resume()
{
    paused = false;
}

void UsbManager::wakeIdleReader()
{
    std::lock_guard<std::mutex> lock(idleMutex);
    idleWakeRequested = true;
    idleWake.notify_all();
}

void UsbManager::stop()
{
    running = false;
    wakeIdleReader();
    rescanTimer.stop();
    if (readerThread) {
        readerThread->wait();
        handOverAcquire(this); // everything the reader did, see readerThreadLoop
        delete readerThread;
        readerThread = nullptr;
    }
    // What the reader read and did not hand over belongs to devices deleted
    // below; a delivery already posted finds nothing.
    batch.clear();
    // The reader has ended: nothing else can reach the registry now. Devices
    // it found lost whose loss is still queued are announced and deleted here
    // (the queued call then finds them gone), the registered ones after. Each
    // device leaves the registry before it is announced, so that a receiver
    // looking at the registry never sees a device that is being deleted.
    while (!departing.isEmpty()) {
        UsbDevice *device = departing.takeFirst();
        emit onDeviceDisconnected(device);
        delete device;
    }
    while (!devices.isEmpty()) {
        UsbDevice *device = devices.take(devices.firstKey());
        emit onDeviceDisconnected(device);
        delete device;
    }
}

QList<UsbDevice *> UsbManager::getDevices()
{
    RegistryReadHold lock(&devicesLock);
    return devices.values();
}

UsbDevice *UsbManager::getDevice(QString id)
{
    RegistryReadHold lock(&devicesLock);
    return devices.value(id, nullptr);
}

bool UsbManager::rescanForZudDevices()
{
    return doRescanForZudDevices(ZudUsbIds::vendorId, ZudUsbIds::wheelBaseOrBootloader);
}

bool UsbManager::doRescanForZudDevices(uint16_t vendorId, uint16_t productId)
{
    return rescan(vendorId, {productId});
}

bool UsbManager::isKnown(const QString &id) const
{
    if (devices.contains(id))
        return true;
    for (const UsbDevice *device : departing)
        if (device->getId() == id)
            return true;
    return false;
}

bool UsbManager::rescan(uint16_t vendorId, const QList<uint16_t> &productIds)
{
    // A device whose loss is still queued counts as present: the interface
    // is opened again by the first pass after the old object has been
    // announced gone, so that its departure always comes before the arrival.
    QList<QString> known;
    {
        RegistryReadHold lock(&devicesLock);
        known = devices.keys();
        for (const UsbDevice *device : departing)
            known.append(device->getId());
    }

    QList<UsbDevice *> found;
    QList<QPair<QString, QString>> notices;
    const uint16_t enumerated = productIds.size() == 1 ? productIds.first() : 0;
    hid_device_info *list = hid_enumerate(vendorId, enumerated);
    std::vector<std::string> present;
    for (hid_device_info *info = list; info; info = info->next) {
        if (!info->path)
            continue;
        const QString path = QString::fromLatin1(info->path);
        if (info->vendor_id != vendorId || !productIds.contains(info->product_id))
            continue;
        present.emplace_back(info->path);
        if (known.contains(path))
            continue;
        hid_device *handle = hid_open_path(info->path);
        if (!handle) {
            // Tried again at the next pass; a missing permission is told once.
            const std::string notice = permissionNotices.noticeForFailedOpen(info->path);
            if (!notice.empty())
                notices.append({path, QString::fromStdString(notice)});
            continue;
        }
        permissionNotices.forget(info->path);
        hid_set_nonblocking(handle, 1);
        UsbDevice *device = createDevice(path, info->product_id, handle);
        if (!device) {
            hid_close(handle);
            continue;
        }
        found.append(device);
        known.append(path); // an interface listed twice is opened once
    }
    hid_free_enumeration(list);
    permissionNotices.retainOnly(present);

    // A receiver of these signals may run another pass (from an event loop
    // of its own): each device is registered only if no such pass has
    // registered its interface meanwhile.
    bool registered = false;
    for (UsbDevice *device : found) {
        bool taken = false;
        {
            RegistryWriteHold lock(&devicesLock);
            taken = isKnown(device->getId());
            if (!taken)
                devices.insert(device->getId(), device);
        }
        if (taken) {
            delete device;
            continue;
        }
        registered = true;
        wakeIdleReader();
        emit onDeviceConnected(device);
    }
    for (const QPair<QString, QString> &notice : notices)
        emit onDevicePermissionDenied(notice.first, notice.second);
    return registered;
}

void UsbManager::readerThreadLoop()
{
    while (running) {
        if (paused) {
            if (batch.flush())
                postDelivery();
            hid_sleep_ms(pausedPollMs);
        } else {
            tryReadFromZudDevices();
        }
    }
    // The reader's last access to this object: stop() acquires it once wait()
    // has returned, before this memory is deleted or reused.
    handOverRelease(this);
}

void UsbManager::postDelivery()
{
    QueuedHandOver::Post post(readerCalls);
    QMetaObject::invokeMethod(this, "deliverBatch", Qt::QueuedConnection);
}

void UsbManager::tryReadFromZudDevices()
{
    QList<UsbDevice *> copy;
    {
        RegistryReadHold lock(&devicesLock);
        copy = devices.values();
    }

    std::vector<UsbDevice *> lost;
    // Nothing is held here: a device leaves the registry only by a loss,
    // which posts what is held, or by stop(), which drops it.
    if (copy.isEmpty()) {
        if (readerThread) {
            std::unique_lock<std::mutex> lock(idleMutex);
            idleWake.wait_for(lock, std::chrono::milliseconds(waitTimeoutMs),
                              [this] { return idleWakeRequested; });
            idleWakeRequested = false;
        }
        return;
    }

    ZudUsbReport report;
    bool added = false;
    const auto deliver = [this, &report, &added](UsbDevice *device) {
        added = true;
        if (batch.addReport(device, report.data, currentTimeMicros(),
                            device->isStreamReport(report.data), monotonicMicros()))
            postDelivery();
    };

    if (readerThread) {
        thread_local std::vector<int> waitSet;
        thread_local std::vector<UsbDevice *> waitDevices;
        waitSet.clear();
        waitDevices.clear();
        for (UsbDevice *device : copy) {
            const int handle = hid_read_begin(device->getHidDevice());
            if (handle == -1) {
                lost.push_back(device);
                continue;
            }
            waitSet.push_back(handle);
            waitDevices.push_back(device);
        }
        // Held reports are handed over in time even when no other comes.
        const int untilDue = batch.millisUntilDue(monotonicMicros());
        const int timeoutMs = untilDue >= 0 && untilDue < waitTimeoutMs ? untilDue : waitTimeoutMs;
        const int ready = hid_wait_any(waitSet.data(), int(waitSet.size()), timeoutMs);
        if (ready >= 0 && size_t(ready) < waitDevices.size()) {
            UsbDevice *device = waitDevices[size_t(ready)];
            const int got = hid_read_finish(device->getHidDevice(), report.data, zudUsbReportSize);
            if (got == -1)
                lost.push_back(device);
            else if (got == zudUsbReportSize)
                deliver(device);
        }
        // A report added has been weighed against the hold already.
        if (!added && batch.due(monotonicMicros()))
            postDelivery();
    } else {
        for (UsbDevice *device : copy) {
            const int got = device->read(report.data);
            if (got == -1)
                lost.push_back(device);
            else if (got == zudUsbReportSize)
                deliver(device);
        }
        if (batch.flush())
            postDelivery();
    }

    for (UsbDevice *device : lost) {
        {
            RegistryWriteHold lock(&devicesLock);
            devices.remove(device->getId());
            departing.append(device);
        }
        if (batch.addLoss(device))
            postDelivery();
    }
}

bool UsbManager::event(QEvent *event)
{
    // Before anything reads the event, whatever its type: the reader made it.
    readerCalls.received();
    return QObject::event(event);
}

void UsbManager::deliverBatch()
{
    // Each delivery takes the batch once and hands its entries over in the
    // order read. A delivery reached from a receiver's event loop (which
    // receivers must not run) first finishes the entries of the one under
    // way, then takes its own, as separate queued events would be handled:
    // newer reports never pass older ones, and a loss is still handled
    // inside that loop.
    const QPointer<UsbManager> self(this);
    bool taken = false;
    for (;;) {
        if (nextDelivered >= delivering.size()) {
            if (taken)
                return;
            delivering.clear();
            nextDelivered = 0;
            batch.takeAll(delivering);
            taken = true;
            if (delivering.empty())
                return;
        }
        // A copy: a delivery inside the handler replaces the entries.
        const ReportBatch::Entry entry = delivering[nextDelivered++];
        if (!entry.device)
            continue; // deleted meanwhile (stop() released it)
        if (entry.lost)
            handleLoss(entry.device.data());
        else
            entry.device->handleReport(entry.report.data, entry.readTimeMicros);
        if (!self)
            return; // a receiver deleted the manager
    }
}

void UsbManager::handleLoss(UsbDevice *gone)
{
    {
        RegistryReadHold lock(&devicesLock);
        if (!departing.contains(gone))
            return; // released by stop() already
    }
    // The device stays among the departing while it is announced, so that a
    // pass run by a receiver does not open its interface beside it; and it
    // is deleted only if stop() has not released it meanwhile.
    emit onDeviceDisconnected(gone);
    {
        RegistryWriteHold lock(&devicesLock);
        if (!departing.removeOne(gone))
            return;
    }
    delete gone;
}
