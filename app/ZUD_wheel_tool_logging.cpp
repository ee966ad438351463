// CSV logging of the live data of the selected device. The rows are formed
// by app/CsvLog; this file opens and closes the log and writes each update's
// rows as they come.
#include "app/StatusMessages.h"
#include "app/ZUD_wheel_tool.h"
#include "livedata/CsvLog.h"

#include "ui_ZUD_wheel_tool.h"

#include <QDateTime>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

namespace {

// The electrical angle of the last kind 3 row: one value for the whole run,
// shared by every window and every log, so that an unchanged angle is
// logged once however the logs are started and stopped.
float lastLoggedElAngle = -1.0f;

// Closes a log that can no longer be written, keeping what reached the
// file, and tells the user once. The box is shown from the event loop, not
// from inside the device's signal that brought the update.
void stopAfterWriteError(QFile &logFile, QPushButton *button, QWidget *parent)
{
    const QString path = QDir::toNativeSeparators(logFile.fileName());
    const QString reason = logFile.errorString();
    logFile.close();
    button->setText(ZUD_wheel_tool::tr("Start Logging"));
    // The status bar no longer logs to the file; the box says why.
    if (auto *window = qobject_cast<QMainWindow *>(parent))
        window->statusBar()->clearMessage();
    QPointer<QWidget> guard(parent);
    QTimer::singleShot(0, parent, [guard, path, reason] {
        if (guard)
            QMessageBox::warning(guard, ZUD_wheel_tool::tr("Logging stopped"),
                                 ZUD_wheel_tool::tr("Writing to the log file %1 failed: %2\n"
                                                    "Logging has stopped; the rows written "
                                                    "before are kept.")
                                     .arg(path, reason),
                                 QMessageBox::Ok);
    });
}

// Writes rows to the open log; false (and logging stopped) on a write error.
bool writeRows(QFile &logFile, const QByteArray &rows, QPushButton *button, QWidget *parent)
{
    if (logFile.write(rows) == rows.size())
        return true;
    stopAfterWriteError(logFile, button, parent);
    return false;
}

} // namespace

void ZUD_wheel_tool::on_pushButton_Logging_clicked()
{
    if (logFile.isOpen()) {
        // Everything buffered goes out now; a failure here is the last
        // chance to tell the user that the log is incomplete.
        const bool flushed = logFile.flush();
        if (!flushed) {
            stopAfterWriteError(logFile, ui->pushButton_Logging, this);
            return;
        }
        logFile.close();
        ui->pushButton_Logging->setText(tr("Start Logging"));
        statusBar()->showMessage(StatusMessages::loggingStopped(logFile.fileName(), logRows),
                                 StatusMessages::timeoutMs);
        // Without a device there is nothing to start a new log for.
        refreshLoggingButton();
        return;
    }

    QString prefix;
    QByteArray header;
    if (selectedWheelBase) {
        prefix = QStringLiteral("wheel-log-");
        header = wheelLogHeader(logKind);
    } else if (selectedPedals) {
        prefix = QStringLiteral("pedals-log-");
        header = pedalsLogHeader();
    } else {
        return;
    }

    QString reason;
    const QString name = logFileName(prefix, QDateTime::currentDateTime());
    if (!openNewLogFile(logFile, QDir::current(), name, &reason)) {
        QMessageBox::warning(this, tr("Unable to start logging"),
                             tr("The log file %1 could not be created: %2")
                                 .arg(QDir::toNativeSeparators(logFile.fileName()), reason),
                             QMessageBox::Ok);
        return;
    }
    ui->pushButton_Logging->setText(tr("Stop Logging"));
    logRows = 0;
    statusBar()->showMessage(StatusMessages::loggingStarted(logFile.fileName()));
    if (!header.isEmpty())
        writeRows(logFile, header, ui->pushButton_Logging, this);
}

void ZUD_wheel_tool::onLogDebugOutput(UsbDevice *, ZudUsbWheelBaseJoystickUpdate *update,
                                      uint64_t readTimeMicros)
{
    logKind = update->updateKind;
    const uint64_t dt = readTimeMicros - lastLogReadTimeMicros;
    lastLogReadTimeMicros = readTimeMicros;
    if (!logFile.isOpen())
        return;

    QByteArray rows;
    switch (logKind) {
    case CsvLogKind::debug:
        appendDebugRow(rows, *update, readTimeMicros, dt);
        break;
    case CsvLogKind::torque:
        appendTorqueRows(rows, *update, readTimeMicros, dt, latchedTorqueIn);
        break;
    case CsvLogKind::commutation:
        appendCommutationRow(rows, *update, readTimeMicros, lastLoggedElAngle);
        break;
    default:
        break;
    }
    if (!rows.isEmpty() && writeRows(logFile, rows, ui->pushButton_Logging, this))
        logRows += rows.count('\n');
}

void ZUD_wheel_tool::onPedalsLogDebugOutput(UsbDevice *, ZudUsbPedalsJoystickUpdate *update,
                                            uint64_t readTimeMicros)
{
    const uint64_t dt = readTimeMicros - lastLogReadTimeMicros;
    lastLogReadTimeMicros = readTimeMicros;
    if (!logFile.isOpen())
        return;
    QByteArray row;
    appendPedalsRow(row, *update, readTimeMicros, dt);
    if (writeRows(logFile, row, ui->pushButton_Logging, this))
        ++logRows;
}
