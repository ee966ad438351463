// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SaveVerifier.h"

#include "app/NonBlockingBox.h"
#include "app/UnsavedChangesGuard.h"
#include "devices/UsbDeviceZudWheelBase.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

namespace {
// Differences listed in the warning itself; the rest are in its details.
constexpr int differencesShown = 12;
// How often the read-back looks whether the save's last report got through.
constexpr int retryPollMs = 20;
constexpr int retryPollLimit = 30;
} // namespace

SaveVerifier::SaveVerifier(QMainWindow *window, UnsavedChangesGuard *guard)
    : QObject(window), window(window), guard(guard)
{
    silenceTimer.setSingleShot(true);
    silenceTimer.setInterval(5000);
    connect(&silenceTimer, &QTimer::timeout, this, &SaveVerifier::silence);
}

void SaveVerifier::showStatus(const QString &text)
{
    window->statusBar()->showMessage(text);
}

void SaveVerifier::finish()
{
    for (const QMetaObject::Connection &c : connections)
        disconnect(c);
    connections.clear();
    silenceTimer.stop();
    state = State::Idle;
    device = nullptr;
    then = nullptr;
}

void SaveVerifier::forget()
{
    if (state != State::Idle)
        showStatus(
            tr("The save to %1 was not verified: another device was chosen.").arg(deviceName));
    finish();
}

void SaveVerifier::save(UsbDeviceZudWheelBase *wheelBase, std::function<void()> next)
{
    finish();
    device = wheelBase;
    deviceName = wheelBase->getProductString();
    sent = profileTableOf(*wheelBase);
    then = std::move(next);
    state = State::Saving;
    connections << connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsSaved, this,
                           &SaveVerifier::saved)
                << connect(wheelBase, &UsbDeviceZudWheelBase::onSettingsLoadFailed, this,
                           &SaveVerifier::loadFailed)
                << connect(wheelBase, &UsbDevice::onBusy, this, &SaveVerifier::busy);
    showStatus(tr("Saving %n profile(s) to %1…", nullptr, sent.profiles.size()).arg(deviceName));
    silenceTimer.start();
    wheelBase->saveSettings();
}

void SaveVerifier::saved(UsbDevice *from)
{
    // A device may confirm the end of a save twice; the read-back runs once.
    if (state != State::Saving || from != device)
        return;
    state = State::ReadingBack;
    retryPolls = 0;
    showStatus(tr("Reading the profiles back from %1…").arg(deviceName));
    silenceTimer.start();
    // Not from inside the device's signal: the load starts a new exchange.
    QTimer::singleShot(0, this, &SaveVerifier::readBack);
}

void SaveVerifier::readBack()
{
    if (state != State::ReadingBack || !device)
        return;
    // The closing report of the save may still be repeated (its write
    // failed); a new command at once would take its place before the device
    // has seen the end of the save. A repeat goes out every 200 ms and keeps
    // going until any reply, which that report never gets: after a few
    // repeats the read-back goes ahead.
    if (device->isRetryArmed() && ++retryPolls < retryPollLimit) {
        QTimer::singleShot(retryPollMs, this, &SaveVerifier::readBack);
        return;
    }
    guard->expectLoad();
    device->loadSettings();
}

void SaveVerifier::loadFailed(UsbDevice *from, const QString &message)
{
    if (from != device)
        return;
    showStatus(tr("The save to %1 was not verified: %2").arg(deviceName, message));
    finish();
}

void SaveVerifier::busy(UsbDevice *from, const QString &message)
{
    if (from != device)
        return;
    showStatus(state == State::Saving
                   ? tr("Nothing was saved to %1: %2").arg(deviceName, message)
                   : tr("The save to %1 was not verified: %2").arg(deviceName, message));
    finish();
}

void SaveVerifier::silence()
{
    if (state == State::Idle)
        return;
    // The device keeps being asked every 200 ms for as long as it is there.
    showStatus(tr("%1 has not answered for %2 s; the tool keeps asking. Unplug it or choose "
                  "another device to give up; the profiles stay in the editor.")
                   .arg(deviceName)
                   .arg(silenceTimer.interval() / 1000));
}

QString SaveVerifier::deviceLeaving(UsbDevice *leaving)
{
    if (state == State::Idle || leaving != device)
        return QString();
    const QString message =
        state == State::Saving
            ? tr("The save to %1 did not end: the device left.").arg(deviceName)
            : tr("The save to %1 was not verified: the device left before its profiles were "
                 "read back.")
                  .arg(deviceName);
    finish();
    return message;
}

void SaveVerifier::loadEnded(UsbDeviceZudWheelBase *wheelBase)
{
    if (state != State::ReadingBack || wheelBase != device)
        return;
    const ProfileTable held = profileTableOf(*wheelBase);
    const QStringList differences = profileTableDifferences(sent, held);
    std::function<void()> next = std::move(then);
    const int count = sent.profiles.size();
    if (differences.isEmpty()) {
        finish();
        showStatus(tr("Saved %1 profiles to %2, verified").arg(count).arg(deviceName));
        if (next)
            QTimer::singleShot(0, window, next);
        return;
    }
    // What the device holds stays the loaded table; the editor goes on with
    // what the user saved, so nothing typed is lost and the difference
    // shows as unsaved.
    applyProfileTable(sent, *wheelBase);
    guard->measureAgainstDevice();
    finish();
    showStatus(
        tr("The save to %1 was not verified: the device holds something else.").arg(deviceName));
    QStringList shown = differences.mid(0, differencesShown);
    if (differences.size() > differencesShown)
        shown << tr("… and %1 more (see the details).").arg(differences.size() - differencesShown);
    // Called from the device's signal: the box must not block.
    QMessageBox *box =
        openMessageBox(window, QMessageBox::Warning, tr("Save not verified"),
                       tr("%1 holds something else than was saved:").arg(deviceName) +
                           QStringLiteral("\n\n") + shown.join(QLatin1Char('\n')));
    box->setInformativeText(tr("The editor keeps the profiles you saved, marked as unsaved: save "
                               "again, or reload to edit what the device holds."));
    if (differences.size() > differencesShown)
        box->setDetailedText(differences.join(QLatin1Char('\n')));
}
