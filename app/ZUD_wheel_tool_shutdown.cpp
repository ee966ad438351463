// The window's end when a signal asks the program to end: the same end as
// the user's close, without the questions that nobody may be there to
// answer.
#include "app/ProfileFilesController.h"
#include "app/ScopePage.h"
#include "app/UnsavedChangesGuard.h"
#include "app/ZUD_wheel_tool.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <QDir>

QString ZUD_wheel_tool::closeForSignal(int signalNumber)
{
    closingForSignal = true;
    QStringList done;

    // The force first: the wheel must not go on turning by itself.
    StepTest &stepTest = scopePage->stepTest();
    if (stepTest.isRunning()) {
        bool failed = false;
        const QMetaObject::Connection watch =
            connect(&stepTest, &StepTest::releaseFailed, this,
                    [&failed](const QString &) { failed = true; });
        stepTest.release();
        disconnect(watch);
        done << (failed ? tr("the test force could not be released: switch the wheel base off")
                        : tr("test force released"));
    }

    if (logFile.isOpen()) {
        const QString path = QDir::toNativeSeparators(logFile.fileName());
        const bool flushed = logFile.flush();
        const QString error = logFile.errorString();
        logFile.close();
        done << (flushed ? tr("log %1 closed").arg(path)
                         : tr("log %1 closed, its last rows not written: %2").arg(path, error));
    }

    unsavedChanges->refresh();
    if (selectedWheelBase && unsavedChanges->isModified()) {
        QString error;
        const QString path = profileFiles->backupUnsaved(*selectedWheelBase, error);
        done << (path.isEmpty()
                     ? tr("unsaved changes could not be backed up: %1").arg(error)
                     : tr("unsaved changes kept in %1").arg(QDir::toNativeSeparators(path)));
    }

    close();
    const QString what = tr("Ended by signal %1").arg(signalNumber);
    return done.isEmpty() ? what : what + QStringLiteral(": ") + done.join(QStringLiteral("; "));
}
