// SPDX-License-Identifier: GPL-3.0-or-later
// Soak: the main window, shown on the offscreen platform, against three
// emulated devices streaming 1000 reports per second each for SOAK_SECONDS
// (default 600). It is driven as a user would drive it, through its widgets:
// the rig's wheel base is chosen in the device list and logged to a CSV file
// for the whole run; every few seconds its settings are reloaded, a slider is
// moved and the settings are saved; now and then it goes into its bootloader,
// which is chosen in the list and given a firmware image through the file
// chooser, and comes back. A second wheel base leaves and comes back every
// 3 s. At the end it prints what was delivered, lost and logged, the resident
// memory at the start and the end, and the GUI thread's busy share.
//
// The logs go to SOAK_LOG_DIR when set (and are kept), else to a temporary
// directory that is removed at the end unless SOAK_KEEP_LOGS is set.
//
// SOAK_FIRMWARE_EVERY=n runs the firmware round trip every n seconds (default:
// every quarter of the run, at least 10 s apart).
//
// Exit status 0 when every exchange ended, nothing was corrupted, nothing was
// lost, the log stayed open and the devices all came back.
#include "BenchSupport.h"
#include "app/SettingsMapping.h"
#include "app/ZUD_wheel_tool.h"
#include "devices/UsbDeviceZudBootloader.h"
#include "devices/UsbDeviceZudPedals.h"
#include "devices/UsbDeviceZudWheelBase.h"
#include "simulator/EmulatedRig.h"
#include "tests/support/DialogAnswerer.h"
#include "usb/UsbManager.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

// Bytes the heap has handed out and not taken back, in KiB: the resident
// memory without what the allocator keeps free for later.
long heapInUseKiB()
{
    const struct mallinfo2 m = mallinfo2();
    return long((m.uordblks + m.hblkhd) / 1024);
}

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
    int stuck = 0;       // a step that did not end within stepTimeoutSeconds
    int logStops = 0;    // the log found closed while it should have been open
    int logErrors = 0;   // "Logging stopped" boxes
    int logStarts = 0;
    int unexpectedDialogs = 0;
    int fileDialogs = 0;
    int boxes = 0;
    int sameDeviceReselections = 0;
    int rigLoadsSeen = 0; // every settings load of the rig's wheel base
};

class Soak : public QObject {
public:
    Soak(int seconds, const QString &logDir) : seconds(seconds), logDir(logDir)
    {
        emu::EmulatedRig::Options options;
        options.streamRate = 1000;
        options.factoryProfileCount = 3;
        rig = std::make_unique<emu::EmulatedRig>(options);
        plugHot();

        image.resize(16 * 1024);
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 131) ^ (i >> 7));
        imagePath = QDir(imageDir.path()).absoluteFilePath(QStringLiteral("soak.fw"));
        QFile file(imagePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
            std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(imagePath));
            std::exit(2);
        }
        file.close();

        answerer.chooseFile = [this] {
            ++figures.fileDialogs;
            if (state == State::EnteringBootloader || state == State::Updating)
                return imagePath;
            ++figures.unexpectedDialogs;
            return QString();
        };
        answerer.onBox = [this](QMessageBox *box) { boxSeen(box->windowTitle(), box->text()); };

        window = std::make_unique<ZUD_wheel_tool>();
        UsbManager &manager = window->manager();
        // After the window's own connections: the window has listed a device
        // when deviceConnected sees it.
        connect(&manager, &UsbManager::onDeviceConnected, this, &Soak::deviceConnected);
        connect(&manager, &UsbManager::onDeviceDisconnected, this,
                [this](UsbDevice *) { ++figures.disconnects; });
        window->show();
        // A change of the current index that keeps the same device current
        // (an item before it removed) is counted: it is no new choice.
        connect(deviceList(), QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
            const QString id = deviceList()->currentData().toString();
            if (!id.isEmpty() && id == currentId)
                ++figures.sameDeviceReselections;
            currentId = id;
        });

        connect(&replugTimer, &QTimer::timeout, this, &Soak::replug);
        replugTimer.start(3000);
        connect(&settingsTimer, &QTimer::timeout, this, &Soak::reload);
        settingsTimer.start(7000);
        connect(&firmwareTimer, &QTimer::timeout, this, &Soak::enterBootloader);
        // SOAK_FIRMWARE_EVERY=n: a firmware update every n seconds instead.
        const char *every = std::getenv("SOAK_FIRMWARE_EVERY");
        firmwareTimer.start(
            (every && std::atoi(every) > 0 ? std::atoi(every) : std::max(10, seconds / 4)) * 1000);
        connect(&watchdog, &QTimer::timeout, this, &Soak::checkProgress);
        watchdog.start(1000);
        // Resident memory and heap in use once a minute: growth that keeps
        // on is a leak, growth that levels off is the allocator's reserve.
        connect(&memoryTimer, &QTimer::timeout, this, [this] {
            std::printf("  %4.0f s: resident %ld KiB, heap in use %ld KiB, firmware updates %d\n",
                        bench::monotonicSeconds() - launchWall, residentKiB(), heapInUseKiB(),
                        figures.firmwareUpdates);
            std::fflush(stdout);
        });
        memoryTimer.start(60000);
        QTimer::singleShot(5000, this, [this] {
            startRss = residentKiB();
            startHeap = heapInUseKiB();
            startCpu = bench::threadCpuSeconds();
            startWall = bench::monotonicSeconds();
        });
        QTimer::singleShot(seconds * 1000, this, &Soak::finish);
    }

    int result = 1;

private:
    // What the soak is doing with the rig's wheel base. Ready: selected,
    // settings shown, logging; every other state is one step of a reload and
    // save or of the firmware round trip.
    enum class State {
        Starting,
        Ready,
        Reloading,
        Saving,
        EnteringBootloader,
        Updating,
        ExitingBootloader,
        Returning,
        Finished
    };
    static constexpr double stepTimeoutSeconds = 30;

    template <typename T> T *widget(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        if (!w) {
            std::fprintf(stderr, "soak: the window has no %s\n", name);
            std::exit(2);
        }
        return w;
    }
    QComboBox *deviceList() const { return widget<QComboBox>("comboBox_UsbDevice"); }
    QPushButton *button(const char *name) const { return widget<QPushButton>(name); }
    bool loggingOn() const
    {
        return button("pushButton_Logging")->text() == QStringLiteral("Stop Logging");
    }

    void enter(State next)
    {
        state = next;
        stateSince = bench::monotonicSeconds();
    }

    // Chooses the device of this path in the device list, as a click would.
    bool select(const QString &path)
    {
        const int index = deviceList()->findData(path);
        if (index < 0)
            return false;
        deviceList()->setCurrentIndex(index);
        return true;
    }
    bool rigWheelSelected() const
    {
        return rigWheel && deviceList()->currentData().toString() == rigWheel->getId();
    }

    void plugHot()
    {
        emu::WheelBaseEmulator::Config config;
        config.streamRate = 1000;
        config.factoryProfileCount = 2;
        config.device.productString = L"ZUD Wheel Base (hot)";
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
                if (state == State::Finished)
                    return;
                plugHot();
                ++figures.replugs;
            });
        }
    }

    void deviceConnected(UsbDevice *device)
    {
        ++figures.connects;
        const std::string path = device->getId().toStdString();
        if (vhid::DevicePtr d = vhid::findByPath(path))
            seen[d->path()] = d;
        if (auto *w = qobject_cast<UsbDeviceZudWheelBase *>(device)) {
            connect(w, &UsbDeviceZudWheelBase::onJoystickUpdate, this,
                    [this](UsbDevice *, ZudUsbWheelBaseJoystickUpdate *, uint64_t) {
                        ++figures.wheelUpdates;
                    });
            connect(w, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                    [this](UsbDevice *, QString) { ++figures.loadFailures; });
            auto e = rig->wheelBase();
            if (!e || path != e->device()->path())
                return;
            rigWheel = w;
            // Connected before the window's own connection (made when the
            // device is selected): the step after a load or save is queued so
            // that it sees the window after the window has seen the signal.
            connect(w, &UsbDeviceZudWheelBase::onSettingsLoaded, this, [this] {
                ++figures.rigLoadsSeen;
                QTimer::singleShot(0, this, &Soak::settingsLoaded);
            });
            connect(w, &UsbDeviceZudWheelBase::onSettingsSaved, this,
                    [this] { QTimer::singleShot(0, this, &Soak::settingsSaved); });
            if (state == State::Starting || state == State::ExitingBootloader) {
                if (state == State::ExitingBootloader)
                    enter(State::Returning);
                QTimer::singleShot(0, this, [this] {
                    if (rigWheel)
                        select(rigWheel->getId());
                });
            }
        } else if (auto *p = qobject_cast<UsbDeviceZudPedals *>(device)) {
            connect(p, &UsbDeviceZudPedals::onJoystickUpdate, this,
                    [this](UsbDevice *, ZudUsbPedalsJoystickUpdate *, uint64_t) {
                        ++figures.pedalUpdates;
                    });
        } else if (auto *b = qobject_cast<UsbDeviceZudBootloader *>(device)) {
            auto e = rig->wheelBaseBootloader();
            if (state != State::EnteringBootloader || !e || path != e->device()->path())
                return;
            rigBootloader = b;
            connect(b, &UsbDeviceZudBootloader::onUpdateCompleted, this, [this] {
                const std::vector<uint8_t> got = rig->wheelBaseBootloader()->image();
                if (got.size() < size_t(image.size()) ||
                    std::memcmp(got.data(), image.constData(), size_t(image.size())) != 0)
                    ++figures.corruptions;
                transferEnded = true;
            });
            connect(b, &UsbDeviceZudBootloader::onUpdateFailed, this, [this] {
                ++figures.firmwareFailures;
                transferEnded = true;
            });
            // Chosen from the event loop, not from inside the discovery pass:
            // the choice queues the file chooser, which then waits in its
            // own dialog loop.
            QTimer::singleShot(0, this, [this] {
                if (!rigBootloader || state != State::EnteringBootloader)
                    return;
                enter(State::Updating);
                select(rigBootloader->getId());
            });
        }
    }

    void boxSeen(const QString &title, const QString &text)
    {
        ++figures.boxes;
        if (title == QStringLiteral("Logging stopped")) {
            ++figures.logErrors;
            std::fprintf(stderr, "soak: %s\n", qPrintable(text));
        } else if (title == QStringLiteral("Firmware update") && state == State::Updating) {
            if (text != QStringLiteral("Update completed successfully!") || !transferEnded) {
                ++figures.firmwareFailures;
                std::fprintf(stderr, "soak: firmware update: %s\n", qPrintable(text));
            }
            QTimer::singleShot(0, this, &Soak::exitBootloader);
            return;
        } else {
            std::fprintf(stderr, "soak: unexpected box \"%s\": %s\n", qPrintable(title),
                         qPrintable(text));
        }
        if (title != QStringLiteral("Logging stopped"))
            ++figures.unexpectedDialogs;
    }

    void settingsLoaded()
    {
        // Only loads the soak asked for, of the selected rig wheel base, with
        // the window's controls filled and enabled.
        if (!rigWheelSelected() || !widget<QAbstractSlider>("horiSlider_Damping")->isEnabled())
            return;
        if (state == State::Starting || state == State::Returning) {
            if (state == State::Returning && ++figures.firmwareUpdates == 1) {
                warmRss = residentKiB();
                warmHeap = heapInUseKiB();
            }
            if (!loggingOn()) {
                if (figures.logStarts > 0)
                    ++figures.logStops;
                button("pushButton_Logging")->click();
                ++figures.logStarts;
                if (!loggingOn())
                    ++figures.logStops;
            }
            enter(State::Ready);
        } else if (state == State::Reloading) {
            ++figures.loads;
            edit();
        }
    }

    // "Reload Settings"; the edit and the save follow when the settings are in.
    void reload()
    {
        // A save is verified by reading the table back; until then the
        // window counts the edit as unsaved and would ask about it.
        if (state != State::Ready || !rigWheelSelected() || window->isWindowModified())
            return;
        QPushButton *load = button("pushButton_LoadConfig");
        if (!load->isEnabled())
            return;
        if (!loggingOn())
            ++figures.logStops;
        enter(State::Reloading);
        load->click();
    }

    // One step of the damping slider, as an arrow key would move it; then
    // "Save Settings".
    void edit()
    {
        auto *slider = widget<QAbstractSlider>("horiSlider_Damping");
        tableBefore =
            rig->wheelBase() ? rig->wheelBase()->profiles() : std::vector<ZudUsbWheelBaseProfile>();
        slider->triggerAction(slider->value() < slider->maximum()
                                  ? QAbstractSlider::SliderSingleStepAdd
                                  : QAbstractSlider::SliderSingleStepSub);
        editedSlot = rigWheel->currentProfile;
        edited = rigWheel->profiles[editedSlot];
        if (edited.damping != sliderToLevel(slider->value()))
            ++figures.corruptions; // the edit did not reach the profile
        enter(State::Saving);
        button("pushButton_SaveConfig")->click();
    }

    // The device holds the edited profile in its slot and the rest of its
    // table as it was.
    void settingsSaved()
    {
        if (state != State::Saving)
            return;
        ++figures.saves;
        auto e = rig->wheelBase();
        const std::vector<ZudUsbWheelBaseProfile> held =
            e ? e->profiles() : std::vector<ZudUsbWheelBaseProfile>();
        bool same = held.size() == tableBefore.size() && editedSlot < int(held.size());
        for (int i = 0; same && i < int(held.size()); ++i) {
            const ZudUsbWheelBaseProfile &want = i == editedSlot ? edited : tableBefore[size_t(i)];
            same = std::memcmp(&held[size_t(i)], &want, sizeof want) == 0;
        }
        if (!same)
            ++figures.corruptions;
        enter(State::Ready);
    }

    // "Enter Bootloader" on the rig's wheel base.
    void enterBootloader()
    {
        if (state != State::Ready || !rigWheelSelected() || window->isWindowModified())
            return;
        QPushButton *enterExit = button("pushButton_EnterExitBootloader");
        if (enterExit->text() != QStringLiteral("Enter Bootloader"))
            return;
        transferEnded = false;
        enter(State::EnteringBootloader);
        enterExit->click();
    }

    // "Exit Bootloader" once the closing box of the update is answered.
    void exitBootloader()
    {
        if (state != State::Updating)
            return;
        QPushButton *enterExit = button("pushButton_EnterExitBootloader");
        if (!rigBootloader || deviceList()->currentData().toString() != rigBootloader->getId() ||
            enterExit->text() != QStringLiteral("Exit Bootloader")) {
            ++figures.firmwareFailures;
            return;
        }
        if (window->findChild<QProgressDialog *>() && !progressReleasePending()) {
            ++figures.firmwareFailures; // the progress dialog was left open
        }
        enter(State::ExitingBootloader);
        enterExit->click();
    }
    // A closed progress dialog waits for deferred deletion for an instant.
    bool progressReleasePending() const
    {
        QProgressDialog *dialog = window->findChild<QProgressDialog *>();
        return dialog && !dialog->isVisible();
    }

    // A step that does not end is counted and the soak carries on from the
    // rig's wheel base, wherever it is.
    void checkProgress()
    {
        if (state == State::Ready || state == State::Finished)
            return;
        if (bench::monotonicSeconds() - stateSince < stepTimeoutSeconds)
            return;
        ++figures.stuck;
        QWidget *modal = QApplication::activeModalWidget();
        std::fprintf(stderr, "soak: step %d did not end within %.0f s (open: %s \"%s\")\n",
                     int(state), stepTimeoutSeconds,
                     modal ? modal->metaObject()->className() : "no dialog",
                     modal ? qPrintable(modal->windowTitle()) : "");
        if (rigWheel)
            select(rigWheel->getId());
        enter(rigWheelSelected() && widget<QAbstractSlider>("horiSlider_Damping")->isEnabled()
                  ? State::Ready
                  : State::Returning);
    }

    struct LogFigures {
        int files = 0;
        qint64 bytes = 0;
        qint64 lines = 0;
    };
    LogFigures countLogs() const
    {
        LogFigures f;
        const QFileInfoList logs =
            QDir(logDir).entryInfoList(QStringList{QStringLiteral("*.csv")}, QDir::Files);
        for (const QFileInfo &info : logs) {
            QFile file(info.absoluteFilePath());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            ++f.files;
            while (!file.atEnd()) {
                const QByteArray block = file.read(1 << 16);
                f.bytes += block.size();
                f.lines += block.count('\n');
            }
        }
        return f;
    }

    void finish()
    {
        // Not from inside a modal dialog the window is waiting in, nor in the
        // middle of the firmware round trip: the window goes at the end.
        const bool midway = state != State::Ready && state != State::Reloading &&
                            state != State::Saving && state != State::Starting;
        QWidget *modal = QApplication::activeModalWidget();
        if ((modal || midway) && finishDelays < 300) {
            ++finishDelays;
            QTimer::singleShot(100, this, &Soak::finish);
            return;
        }
        // Never past a dialog the window is still waiting in: the window
        // would be deleted under its own call.
        if (modal) {
            ++figures.stuck;
            std::fprintf(stderr, "soak: %s \"%s\" still open at the end; closed\n",
                         modal->metaObject()->className(), qPrintable(modal->windowTitle()));
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
            if (finishDelays++ < 350) {
                QTimer::singleShot(100, this, &Soak::finish);
                return;
            }
            std::fprintf(stderr, "soak: cannot close the open dialogs\n");
            std::_Exit(1);
        }
        const double wall = bench::monotonicSeconds() - startWall;
        const double cpu = bench::threadCpuSeconds() - startCpu;
        const long endRss = residentKiB();
        const long endHeap = heapInUseKiB();
        // Same process, same objects: only the allocator's free reserve goes
        // back to the system. Not under AddressSanitizer (startHeap is 0).
        long trimmedRss = endRss;
        if (startHeap > 0) {
            malloc_trim(0);
            trimmedRss = residentKiB();
        }
        const State last = state;
        enter(State::Finished);
        replugTimer.stop();
        settingsTimer.stop();
        firmwareTimer.stop();
        watchdog.stop();
        memoryTimer.stop();

        if (!loggingOn())
            ++figures.logStops;
        else
            button("pushButton_Logging")->click(); // flushes and closes the log
        const LogFigures logs = countLogs();
        // Dialogs and other objects the window keeps: a dialog left behind
        // per update would show here.
        const int progressDialogs = window->findChildren<QProgressDialog *>().size();
        const int windowObjects = window->findChildren<QObject *>().size();

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
        // Stops the manager; every device is announced gone and deleted.
        window.reset();
        const long heapWithoutWindow = heapInUseKiB();
        // The rig keeps the emulators whose turn is over (a bootloader holds
        // its image and the chunks it received) until it goes.
        rig.reset();
        hot.reset();
        vhid::unplugAll();
        const long heapWithoutEmulators = heapInUseKiB();

        std::printf("soak: %d s through the main window, three devices at 1000 reports/s\n",
                    seconds);
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
                    "corrupted %d, steps stuck %d\n",
                    figures.loads, figures.loadFailures, figures.saves, figures.firmwareUpdates,
                    figures.firmwareFailures, figures.corruptions, figures.stuck);
        // The soak asks for one load per reload, one when it first chooses
        // the wheel base and one each time the wheel base is back; the
        // window reads the table back after every save.
        const int unaskedLoads =
            figures.rigLoadsSeen - figures.loads - 1 - figures.firmwareUpdates - figures.saves;
        std::printf("device list: current index moved while the same device stayed current %d "
                    "time(s); settings loads of the rig's wheel base %d, not asked for %d\n",
                    figures.sameDeviceReselections, figures.rigLoadsSeen, unaskedLoads);
        std::printf("log: %d file(s), %lld lines (%lld rows after the header lines), %lld bytes; "
                    "started %d time(s), found stopped %d time(s), stopped on a write error %d "
                    "time(s)\n",
                    logs.files, (long long)logs.lines, (long long)(logs.lines - logs.files),
                    (long long)logs.bytes, figures.logStarts, figures.logStops, figures.logErrors);
        std::printf("dialogs answered: %d file chooser(s), %d message box(es), %d unexpected, "
                    "%d answered again\n",
                    figures.fileDialogs, figures.boxes, figures.unexpectedDialogs,
                    answerer.repeats);
        std::printf("objects under the window at the end: %d, progress dialogs %d\n", windowObjects,
                    progressDialogs);
        std::printf("crashes: 0 (the process reached its end)\n");
        std::printf("resident memory: start %ld KiB, end %ld KiB, growth %ld KiB\n", startRss,
                    endRss, endRss - startRss);
        if (warmRss > 0)
            std::printf("resident memory after the first firmware update: %ld KiB, growth since "
                        "%ld KiB\n",
                        warmRss, endRss - warmRss);
        if (startHeap > 0)
            std::printf("resident memory at the end once the allocator has returned its free "
                        "memory (malloc_trim): %ld KiB, growth %ld KiB since the start, %ld KiB "
                        "since the first firmware update\n",
                        trimmedRss, trimmedRss - startRss, warmRss > 0 ? trimmedRss - warmRss : 0);
        // Not under AddressSanitizer, whose allocator glibc cannot see.
        if (startHeap > 0) {
            std::printf(
                "heap in use: start %ld KiB, after the first firmware update %ld KiB, end %ld "
                "KiB\n",
                startHeap, warmHeap, endHeap);
            std::printf(
                "heap in use after the window is gone %ld KiB, after the emulators are gone "
                "%ld KiB\n",
                heapWithoutWindow, heapWithoutEmulators);
        }
        std::printf("GUI thread busy: %.1f %% of %.0f s\n", wall > 0 ? 100.0 * cpu / wall : 0.0,
                    wall);
        if (last != State::Ready && last != State::Reloading && last != State::Saving)
            std::printf("ended in step %d after waiting %.1f s\n", int(last), finishDelays / 10.0);
        std::fflush(stdout);

        const bool ok = figures.corruptions == 0 && figures.loadFailures == 0 &&
                        figures.firmwareFailures == 0 && figures.loads > 0 && figures.saves > 0 &&
                        (seconds < 20 || figures.firmwareUpdates > 0) && figures.replugs > 0 &&
                        dropped == 0 && figures.stuck == 0 && figures.logStarts == 1 &&
                        figures.logStops == 0 && figures.logErrors == 0 &&
                        figures.unexpectedDialogs == 0 && unaskedLoads == 0 && logs.files == 1 &&
                        logs.lines > 1;
        result = ok ? 0 : 1;
        QCoreApplication::exit(result);
    }

    int seconds;
    QString logDir;
    QTemporaryDir imageDir;
    QString imagePath;
    QByteArray image;
    wintest::DialogAnswerer answerer{20}; // polled seldom: the soak measures the GUI thread
    std::unique_ptr<emu::EmulatedRig> rig;
    std::shared_ptr<emu::WheelBaseEmulator> hot;
    std::unique_ptr<ZUD_wheel_tool> window;
    QPointer<UsbDeviceZudWheelBase> rigWheel;
    QPointer<UsbDeviceZudBootloader> rigBootloader;
    QString currentId;
    // Every virtual device the manager announced, by path.
    std::map<std::string, vhid::DevicePtr> seen;
    State state = State::Starting;
    double stateSince = bench::monotonicSeconds();
    bool transferEnded = false;
    std::vector<ZudUsbWheelBaseProfile> tableBefore;
    ZudUsbWheelBaseProfile edited{};
    int editedSlot = 0;
    int finishDelays = 0;
    QTimer replugTimer, settingsTimer, firmwareTimer, watchdog, memoryTimer;
    const double launchWall = bench::monotonicSeconds();
    long startRss = 0;
    // After the first firmware round trip: the file chooser, the progress
    // dialog and the boxes have been built once.
    long warmRss = 0;
    long startHeap = 0, warmHeap = 0;
    double startCpu = 0, startWall = 0;
    Figures figures;
};

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own widget dialogs, which the answerer can see and answer.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    const char *env = std::getenv("SOAK_SECONDS");
    const int seconds = env && std::atoi(env) > 0 ? std::atoi(env) : 600;

    // The window writes its logs into the working directory.
    std::unique_ptr<QTemporaryDir> tempLogDir;
    QString logDir;
    if (const char *dir = std::getenv("SOAK_LOG_DIR"); dir && *dir) {
        logDir = QDir(QString::fromLocal8Bit(dir)).absolutePath();
        QDir().mkpath(logDir);
    } else {
        tempLogDir = std::make_unique<QTemporaryDir>();
        if (!tempLogDir->isValid()) {
            std::fprintf(stderr, "soak: no temporary directory for the logs\n");
            return 2;
        }
        tempLogDir->setAutoRemove(!std::getenv("SOAK_KEEP_LOGS"));
        logDir = tempLogDir->path();
    }
    if (!QDir(logDir).entryList(QStringList{QStringLiteral("*.csv")}, QDir::Files).isEmpty()) {
        std::fprintf(stderr, "soak: %s already holds logs; give an empty directory\n",
                     qPrintable(logDir));
        return 2;
    }
    if (!QDir::setCurrent(logDir)) {
        std::fprintf(stderr, "soak: cannot change into %s\n", qPrintable(logDir));
        return 2;
    }
    // The profile backups that its saves and bootloader visits take stay
    // beside the logs, out of the user's data folder.
    qputenv("XDG_DATA_HOME", QDir(logDir).filePath(QStringLiteral("data")).toLocal8Bit());
    int result;
    {
        Soak soak(std::max(seconds, 6), logDir);
        result = app.exec();
    }
    if (!tempLogDir || !tempLogDir->autoRemove())
        std::printf("logs kept in %s\n", qPrintable(logDir));
    QDir::setCurrent(QDir::rootPath()); // out of the directory before it is removed
    return result;
}
