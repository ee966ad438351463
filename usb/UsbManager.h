// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "usb/DevicePermissions.h"
#include "usb/ReportBatch.h"
#include "usb/ThreadHandOver.h"
#include "usb/UsbDevice.h"
#include "usb/ZudUsbReport.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QReadWriteLock>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class UsbManagerReaderThread;

// The vendor id of every supported device and the product ids by kind.
namespace ZudUsbIds {
constexpr uint16_t vendorId = 0x0483;
constexpr uint16_t wheelBaseOrBootloader = 0xA355;
constexpr uint16_t wheelBase = 0xA111;
constexpr uint16_t pedals = 0xA112;
constexpr uint16_t bootloader = 0x5C05;
constexpr uint16_t bootloaderAlt = 0xA110;
} // namespace ZudUsbIds

// Makes the device object for an interface that a discovery pass opened:
// the kind that productId (and, where one id serves two kinds, the handle's
// product string) names, owning handle from then on; or nullptr for an
// interface of no supported kind, whose handle the manager then closes.
// Called on the GUI thread. devices/ provides the one for the ZUD devices
// (createZudDevice in devices/ZudDeviceFactory.h).
using UsbDeviceFactory =
    std::function<UsbDevice *(const QString &path, uint16_t productId, hid_device *handle)>;

// Finds the supported devices, keeps the open ones in a registry keyed by
// their interface path, and owns the reader thread that reads them all.
// Everything here runs on the GUI thread (the manager's own thread), its
// signals included, except readerThreadLoop, tryReadFromZudDevices and
// postDelivery, which the reader thread runs; what crosses between the two
// is noted below.
//
// A device object is deleted only here, on the GUI thread, right after
// onDeviceDisconnected has been emitted for it. Receivers of the manager's
// signals and of the devices' signals must not run an event loop of their
// own (a modal exec(), a static QMessageBox function, processEvents): the
// loss of the very device that is calling could be handled in it.
class UsbManager : public QObject {
    Q_OBJECT
    friend class UsbManagerReaderThread;

public:
    explicit UsbManager(UsbDeviceFactory factory);
    ~UsbManager() override;

    // The product ids that the periodic pass asks for, in the order asked.
    static const QList<uint16_t> &supportedProductIds();

signals:
    void onDeviceConnected(UsbDevice *device);
    void onDeviceDisconnected(UsbDevice *device);

public slots:
    void start(bool startPaused = false);
    void pause();
    void resume();
    void stop();
    QList<UsbDevice *> getDevices();
    UsbDevice *getDevice(QString id);
    bool rescanForZudDevices();

private slots:
    // GUI thread: one discovery pass for one product id (the command line and
    // the tests call it directly).
    bool doRescanForZudDevices(uint16_t vendorId, uint16_t productId);
    // Reader thread: one wait for any registered device and the collection
    // of the read that is ready; reports and losses go to the GUI thread
    // through the batch. Without a reader thread (start() not called) the
    // tests call it directly on the GUI thread, where it reads each device
    // once and posts the delivery of what it read.
    void tryReadFromZudDevices();
    // Reader thread: UsbManagerReaderThread::run, until stop().
    void readerThreadLoop();
    // GUI thread, posted by the reader: the batch's reports and losses, in
    // the order they were read.
    void deliverBatch();

protected:
    // GUI thread: every queued call of the reader arrives here first.
    bool event(QEvent *event) override;

signals:
    // A supported device is present but this user may not open it; message
    // says how to grant access. Emitted once per device path while it stays.
    void onDevicePermissionDenied(QString path, QString message);

private:
    // GUI thread (the rescan timer and the rescan slots): one discovery pass
    // for vendorId over the given product ids, with one enumeration: by the
    // id itself for a single id, by vendor for several.
    bool rescan(uint16_t vendorId, const QList<uint16_t> &productIds);
    // GUI thread, from rescan: whether id is registered or its loss is still
    // queued; devicesLock held.
    bool isKnown(const QString &id) const;
    // GUI thread, from deliverBatch: a device's loss.
    void handleLoss(UsbDevice *gone);
    // Reader thread: queues one deliverBatch.
    void postDelivery();

    // GUI thread, from rescan.
    const UsbDeviceFactory createDevice;
    std::atomic<bool> running{false};
    std::atomic<bool> paused{false};
    int waitTimeoutMs = 500;
    QTimer rescanTimer;
    QReadWriteLock devicesLock{QReadWriteLock::NonRecursive};
    QMap<QString, UsbDevice *> devices;
    UsbManagerReaderThread *readerThread = nullptr;
    // Devices the reader took out of the registry whose loss is queued to the
    // GUI thread but not handled yet; guarded by devicesLock.
    QList<UsbDevice *> departing;
    DevicePermissionNotices permissionNotices;
    // A reader with nothing registered sleeps up to waitTimeoutMs here;
    // registering a device or stopping wakes it at once, so that the first
    // reports of a new device are read before its input queue overflows.
    std::mutex idleMutex;
    std::condition_variable idleWake;
    bool idleWakeRequested = false;
    // GUI thread (rescan, stop); the reader waits on idleWake.
    void wakeIdleReader();
    // The reader's queued calls to this object (deliveries of the batch).
    QueuedHandOver readerCalls;
    // Reports read and devices lost, on their way to the GUI thread.
    ReportBatch batch;
    // GUI thread: the entries deliverBatch last took (kept for their
    // capacity), and the next one to hand over.
    std::vector<ReportBatch::Entry> delivering;
    size_t nextDelivered = 0;
};
