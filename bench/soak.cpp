// Soak: a started manager with the three device classes against three
// emulated devices streaming 1000 reports per second each, for SOAK_SECONDS
// (default 600). A third device leaves and comes back every few seconds; the
// wheel base's profiles are reloaded and saved now and then, and it goes
// through its bootloader for a firmware update and back. At the end it
// prints what was delivered and lost, the resident memory at the start and
// the end, and the GUI thread's busy share. Exit status 0 when every
// exchange ended, nothing was corrupted and the devices all came back.
#include "BenchSupport.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "simulator/EmulatedRig.h"
#include "usb/UsbManager.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Figures {
    uint64_t wheelUpdates = 0;
    uint64_t pedalUpdates = 0;
    int connects = 0;
    int disconnects = 0;
    int replugs = 0;
    int loads = 0;
    int loadFailures = 0;
    int saves = 0;
    int firmwareUpdates = 0;
    int firmwareFailures = 0;
    int corruptions = 0; // a saved table or an image that came back different
};

class Soak : public QObject {
public:
    Soak(int seconds) : seconds(seconds)
    {
        emu::EmulatedRig::Options options;
        options.streamRate = 1000;
        options.factoryProfileCount = 3;
        rig = std::make_unique<emu::EmulatedRig>(options);

        connect(&manager, &UsbManager::onDeviceConnected, this, &Soak::deviceConnected);
        connect(&manager, &UsbManager::onDeviceDisconnected, this,
                [this](UsbDevice *) { ++figures.disconnects; });
        plugHot();
        manager.start();

        image.resize(16 * 1024);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 131) ^ (i >> 7));

        connect(&replugTimer, &QTimer::timeout, this, &Soak::replug);
        replugTimer.start(3000);
        connect(&settingsTimer, &QTimer::timeout, this, &Soak::reloadAndSave);
        settingsTimer.start(7000);
        connect(&firmwareTimer, &QTimer::timeout, this, &Soak::startFirmwareUpdate);
        firmwareTimer.start(std::max(10, seconds / 4) * 1000);
        QTimer::singleShot(5000, this, [this] {
            startRss = residentKiB();
            startCpu = bench::threadCpuSeconds();
            startWall = bench::monotonicSeconds();
        });
        QTimer::singleShot(seconds * 1000, this, &Soak::finish);
    }

    int result = 1;

private:
    void plugHot()
    {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 1000;
        config.factoryProfileCount = 2;
        hot = emu::WheelBaseEmulator::plug(config);
    }

    // The extra wheel base leaves the bus and a second later is back. The
    // old emulator goes with it; the bus keeps a small record of every
    // device ever plugged, which is the harness's only growth.
    void replug()
    {
        if (hot && hot->isPlugged()) {
            hot->unplug();
            QTimer::singleShot(1000, this, [this] {
                plugHot();
                ++figures.replugs;
            });
        }
    }

    void deviceConnected(UsbDevice *device)
    {
        ++figures.connects;
        if (vhid::DevicePtr d = vhid::findByPath(device->getId().toStdString()))
            seen[d->path()] = d;
        if (auto *w = qobject_cast<UsbDeviceZudWheelBase *>(device)) {
            connect(w, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                    [this](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *, uint64_t) {
                        ++figures.wheelUpdates;
                    });
            connect(w, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                    [this](UsbDevice *, QString) { ++figures.loadFailures; });
            if (rig->wheelBase() &&
                device->getId().toStdString() == rig->wheelBase()->device()->path())
                rigWheel = w;
        } else if (auto *p = qobject_cast<UsbDeviceZudPedals *>(device)) {
            connect(p, &UsbDeviceZudPedals::onJoystickUpdate, this,
                    [this](UsbDevice *, ZudUsbPedalsJoystickUpdate *, uint64_t) {
                        ++figures.pedalUpdates;
                    });
        } else if (auto *b = qobject_cast<UsbDeviceZudBootloader *>(device)) {
            if (!firmwareRunning)
                return;
            connect(b, &UsbDeviceZudBootloader::onUpdateCompleted, this, [this, b] {
                const std::vector<uint8_t> got = rig->wheelBaseBootloader()->image();
                if (got.size() < size_t(image.size()) ||
                    std::memcmp(got.data(), image.constData(), size_t(image.size())) != 0)
                    ++figures.corruptions;
                ++figures.firmwareUpdates;
                b->exitBootloader();
                firmwareRunning = false;
            });
            connect(b, &UsbDeviceZudBootloader::onUpdateFailed, this, [this, b] {
                ++figures.firmwareFailures;
                b->exitBootloader();
                firmwareRunning = false;
            });
            b->updateFirmware(image);
        }
    }

    // Reload the rig's wheel base, change the current profile, save it and
    // check that the device holds what was saved.
    void reloadAndSave()
    {
        if (!rigWheel || exchangeRunning)
            return;
        exchangeRunning = true;
        QPointer<UsbDeviceZudWheelBase> w = rigWheel;
        auto loaded = std::make_shared<QMetaObject::Connection>();
        *loaded = connect(w, &UsbDeviceZudWheelBase::onSettingsLoaded, this, [this, w, loaded] {
            disconnect(*loaded);
            ++figures.loads;
            ZudUsbWheelBaseProfile &p = w->profiles[w->currentProfile];
            p.damping = int8_t((p.damping + 1) % 100);
            const ZudUsbWheelBaseProfile expected = p;
            auto saved = std::make_shared<QMetaObject::Connection>();
            *saved = connect(w, &UsbDeviceZudWheelBase::onSettingsSaved, this,
                             [this, w, saved, expected] {
                                 disconnect(*saved);
                                 ++figures.saves;
                                 auto e = rig->wheelBase();
                                 const ZudUsbWheelBaseProfile held =
                                     e ? e->profile(expected.index) : ZudUsbWheelBaseProfile{};
                                 if (!e || std::memcmp(&held, &expected, sizeof held) != 0)
                                     ++figures.corruptions;
                                 exchangeRunning = false;
                             });
            w->saveSettings();
        });
        w->loadSettings();
        // An exchange cut short by the device leaving is not waited for.
        connect(w, &QObject::destroyed, this, [this] { exchangeRunning = false; });
    }

    void startFirmwareUpdate()
    {
        if (!rigWheel || firmwareRunning || exchangeRunning)
            return;
        firmwareRunning = true;
        rigWheel->enterBootloader();
    }

    void finish()
    {
        const double wall = bench::monotonicSeconds() - startWall;
        const double cpu = bench::threadCpuSeconds() - startCpu;
        const long endRss = residentKiB();
        replugTimer.stop();
        settingsTimer.stop();
        firmwareTimer.stop();

        uint64_t streamed = 0, dropped = 0;
        for (const auto &entry : seen) {
            const vhid::DevicePtr &d = entry.second;
            dropped += d->droppedReports();
            streamed += d->injectedReports();
            if (d->droppedReports() > 0 && std::getenv("SOAK_VERBOSE"))
                std::printf("  %s %ls: %llu of %llu lost in the host's queue\n", d->path().c_str(),
                            d->config().productString.c_str(),
                            (unsigned long long)d->droppedReports(),
                            (unsigned long long)d->injectedReports());
        }
        const uint64_t delivered = figures.wheelUpdates + figures.pedalUpdates;
        manager.stop();

        std::printf("soak: %d s, three devices at 1000 reports/s\n", seconds);
        std::printf("reports sent by the devices (joystick reports and replies): %llu\n",
                    (unsigned long long)streamed);
        std::printf("reports delivered (joystick signals): %llu (wheel %llu, pedals %llu)\n",
                    (unsigned long long)delivered, (unsigned long long)figures.wheelUpdates,
                    (unsigned long long)figures.pedalUpdates);
        std::printf("reports lost in the host's queues: %llu\n", (unsigned long long)dropped);
        std::printf("reports sent but not delivered as joystick signals (replies and "
                    "acknowledgements, reports before the host opened a device, in flight at "
                    "unplug, lost in queues): %lld\n",
                    (long long)streamed - (long long)delivered);
        std::printf("devices announced %d, gone %d, replugs %d\n", figures.connects,
                    figures.disconnects, figures.replugs);
        std::printf("settings loads %d (failed %d), saves %d, firmware updates %d (failed %d), "
                    "corrupted %d\n",
                    figures.loads, figures.loadFailures, figures.saves, figures.firmwareUpdates,
                    figures.firmwareFailures, figures.corruptions);
        std::printf("crashes: 0 (the process reached its end)\n");
        std::printf("resident memory: start %ld KiB, end %ld KiB, growth %ld KiB\n", startRss,
                    endRss, endRss - startRss);
        std::printf("GUI thread busy: %.1f %% of %.0f s\n", wall > 0 ? 100.0 * cpu / wall : 0.0,
                    wall);
        std::fflush(stdout);

        const bool ok = figures.corruptions == 0 && figures.loadFailures == 0 &&
                        figures.firmwareFailures == 0 && figures.loads > 0 && figures.saves > 0 &&
                        (seconds < 20 || figures.firmwareUpdates > 0) && figures.replugs > 0 &&
                        dropped == 0;
        result = ok ? 0 : 1;
        rig.reset();
        hot.reset();
        vhid::unplugAll();
        QCoreApplication::exit(result);
    }

    int seconds;
    UsbManager manager;
    std::unique_ptr<emu::EmulatedRig> rig;
    std::shared_ptr<emu::WheelBaseEmulator> hot;
    QPointer<UsbDeviceZudWheelBase> rigWheel;
    QByteArray image;
    // Every virtual device the manager announced, by path.
    std::map<std::string, vhid::DevicePtr> seen;
    bool exchangeRunning = false;
    bool firmwareRunning = false;
    QTimer replugTimer, settingsTimer, firmwareTimer;
    long startRss = 0;
    double startCpu = 0, startWall = 0;
    Figures figures;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *env = std::getenv("SOAK_SECONDS");
    const int seconds = env && std::atoi(env) > 0 ? std::atoi(env) : 600;
    Soak soak(std::max(seconds, 6));
    return app.exec();
}
