// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary input reports for the wheel base or the pedals selected in the
// window, with logging on: the live view, the CSV logger and the settings
// editor see whatever arrives. The first byte picks the device and the
// operation that starts an exchange; message boxes are answered at once.
#include "app/ZUD_wheel_tool.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "simulator/VirtualHidBus.h"
#include "usb/ZudUsbReport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>

namespace {

struct WindowRig;
WindowRig &rig();

struct WindowRig {
    QApplication *application = nullptr;
    QTemporaryDir *logDir = nullptr;
    ZUD_wheel_tool *window = nullptr;
    vhid::DevicePtr wheelBus, pedalsBus;
    uint32_t clock = 0;

    WindowRig()
    {
        // The offscreen platform warns on every pixmap a label gets.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("QT_QPA_PLATFORMTHEME");
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        static int argc = 1;
        static char name[] = "fuzz_window";
        static char *argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
        logDir = new QTemporaryDir();
        QDir::setCurrent(logDir->path());
        // Profile backups stay in the temporary folder too.
        qputenv("XDG_DATA_HOME", logDir->filePath(QStringLiteral("data")).toLocal8Bit());

        // Any dialog that opens is dismissed from its own event loop.
        auto *dismiss = new QTimer(application);
        QObject::connect(dismiss, &QTimer::timeout, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
        });
        dismiss->start(0);

        wheelBus = vhid::plug({0x0483, 0xA355, L"ZUD Wheel Base", "fuzz-wheel"});
        pedalsBus = vhid::plug({0x0483, 0xA112, L"ZUD Pedals", "fuzz-pedals"});
        window = new ZUD_wheel_tool();
        window->setMillisClock([this] { return clock; });
        for (uint16_t productId : UsbManager::supportedProductIds())
            QMetaObject::invokeMethod(&window->manager(), "doRescanForZudDevices",
                                      Qt::DirectConnection, Q_ARG(uint16_t, 0x0483),
                                      Q_ARG(uint16_t, productId));
        if (window->manager().getDevices().size() != 2)
            std::abort();
        // The rig is never destroyed; without this its reader thread would
        // still be reading the devices while exit() destroys the statics of
        // the read layer and the bus under it.
        std::atexit([] {
            UsbManager &manager = rig().window->manager();
            QObject::disconnect(&manager, nullptr, rig().window, nullptr);
            manager.stop();
        });
    }

    QComboBox *devices() { return window->findChild<QComboBox *>("comboBox_UsbDevice"); }

    void select(int index)
    {
        if (devices()->currentIndex() != index)
            devices()->setCurrentIndex(index);
    }
};

WindowRig &rig()
{
    static WindowRig *instance = new WindowRig();
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    WindowRig &r = rig();
    // Device order in the combo box is the order of arrival: wheel, pedals.
    const bool pedals = data[0] & 0x80;
    r.select(pedals ? 1 : 0);
    UsbDevice *device = r.window->manager().getDevice(pedals ? "fuzz-pedals" : "fuzz-wheel");
    if (!device)
        std::abort();
    auto *wheel = qobject_cast<UsbDeviceZudWheelBase *>(device);
    auto *logging = r.window->findChild<QPushButton *>("pushButton_Logging");
    const bool logOn = logging && logging->text() == "Stop Logging";
    if (logging && logging->isEnabled() && logOn != bool(data[0] & 0x40))
        logging->click();
    if (wheel) {
        switch (data[0] & 7) {
        case 0:
            wheel->loadSettings();
            break;
        case 1:
            wheel->saveSettings();
            break;
        case 2:
            wheel->centerRim();
            break;
        case 3:
            wheel->addProfile();
            break;
        case 4:
            wheel->removeProfile();
            break;
        default:
            break;
        }
    }

    for (size_t offset = 1; offset < size; offset += zudUsbReportSize) {
        uint8_t report[zudUsbReportSize] = {};
        std::memcpy(report, data + offset, std::min<size_t>(zudUsbReportSize, size - offset));
        r.clock += 17; // every update passes the live view's throttle
        device->handleReport(report, 1000000 + offset);
    }
    QCoreApplication::processEvents();
    // Keep the log directory small over a long run: every start of logging
    // makes a new file, and a directory of thousands of them slows each
    // input down. Closed logs go; an open one goes once it is large.
    const bool stillLogging = logging && logging->text() == "Stop Logging";
    for (const QString &file : QDir(r.logDir->path()).entryList(QDir::Files))
        if (!stillLogging || QFileInfo(r.logDir->filePath(file)).size() > (8 << 20))
            QFile::remove(r.logDir->filePath(file));
    return 0;
}
