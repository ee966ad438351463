// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CsvLogger.h"

#include "app/DeviceControls.h"
#include "app/DeviceSelection.h"
#include "app/StatusMessages.h"
#include "livedata/CsvLog.h"
#include "ui_ZUD_wheel_tool.h"
#include "usb/UsbClock.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
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

} // namespace

CsvLogger::CsvLogger(QMainWindow *window, Ui::ZUD_wheel_tool *form,
                     const DeviceSelection &selection, const DeviceControls &controls)
    : window(window), ui(form), selection(selection), lastLogReadTimeMicros(currentTimeMicros())
{
    // "Log every report" sits beside the logging button.
    everyReport = new QCheckBox(tr("Log every report"), ui->tabWidgetPageDebug);
    everyReport->setObjectName(QStringLiteral("checkBox_LogEveryReport"));
    QBoxLayout *column = ui->verticalLayout;
    const int at = column->indexOf(ui->pushButton_Logging);
    column->removeWidget(ui->pushButton_Logging);
    auto *row = new QHBoxLayout;
    row->addWidget(everyReport);
    row->addWidget(ui->pushButton_Logging, 1);
    column->insertLayout(at, row);
    connect(&controls, &DeviceControls::applied, this, &CsvLogger::refreshButton);
}

// Closes a log that can no longer be written, keeping what reached the
// file, and tells the user once. The box is shown from the event loop, not
// from inside the device's signal that brought the update.
void CsvLogger::stopAfterWriteError()
{
    const QString path = QDir::toNativeSeparators(logFile.fileName());
    const QString reason = logFile.errorString();
    logFile.close();
    ui->pushButton_Logging->setText(tr("Start Logging"));
    // The status bar no longer logs to the file; the box says why.
    window->statusBar()->clearMessage();
    QPointer<QWidget> guard(window);
    QTimer::singleShot(0, window, [guard, path, reason] {
        if (guard)
            QMessageBox::warning(guard, tr("Logging stopped"),
                                 tr("Writing to the log file %1 failed: %2\n"
                                    "Logging has stopped; the rows written "
                                    "before are kept.")
                                     .arg(path, reason),
                                 QMessageBox::Ok);
    });
}

// Writes rows to the open log; false (and logging stopped) on a write error.
bool CsvLogger::writeRows(const QByteArray &rows)
{
    if (logFile.write(rows) == rows.size())
        return true;
    stopAfterWriteError();
    return false;
}

void CsvLogger::toggle()
{
    if (logFile.isOpen()) {
        // Everything buffered goes out now; a failure here is the last
        // chance to tell the user that the log is incomplete.
        const bool flushed = logFile.flush();
        if (!flushed) {
            stopAfterWriteError();
            return;
        }
        logFile.close();
        ui->pushButton_Logging->setText(tr("Start Logging"));
        window->statusBar()->showMessage(
            StatusMessages::loggingStopped(logFile.fileName(), logRows), StatusMessages::timeoutMs);
        // Without a device there is nothing to start a new log for.
        refreshButton();
        return;
    }

    QString prefix;
    QByteArray header;
    if (selection.wheelBase()) {
        prefix = QStringLiteral("wheel-log-");
        header = wheelLogHeader(logKind);
    } else if (selection.pedals()) {
        prefix = QStringLiteral("pedals-log-");
        header = pedalsLogHeader();
    } else {
        return;
    }

    QString reason;
    const QString name = logFileName(prefix, QDateTime::currentDateTime());
    if (!openNewLogFile(logFile, QDir::current(), name, &reason)) {
        QMessageBox::warning(window, tr("Unable to start logging"),
                             tr("The log file %1 could not be created: %2")
                                 .arg(QDir::toNativeSeparators(logFile.fileName()), reason),
                             QMessageBox::Ok);
        return;
    }
    ui->pushButton_Logging->setText(tr("Stop Logging"));
    logRows = 0;
    window->statusBar()->showMessage(StatusMessages::loggingStarted(logFile.fileName()));
    if (!header.isEmpty())
        writeRows(header);
}

void CsvLogger::logWheelUpdate(const ZudUsbWheelBaseJoystickUpdate &update, uint64_t readTimeMicros)
{
    logKind = update.updateKind;
    const uint64_t dt = readTimeMicros - lastLogReadTimeMicros;
    lastLogReadTimeMicros = readTimeMicros;
    if (!logFile.isOpen())
        return;

    QByteArray rows;
    switch (logKind) {
    case CsvLogKind::debug:
        appendDebugRow(rows, update, readTimeMicros, dt);
        break;
    case CsvLogKind::torque:
        appendTorqueRows(rows, update, readTimeMicros, dt, latchedTorqueIn);
        break;
    case CsvLogKind::commutation:
        appendCommutationRow(rows, update, readTimeMicros, lastLoggedElAngle);
        break;
    default:
        break;
    }
    if (!rows.isEmpty() && writeRows(rows))
        logRows += rows.count('\n');
}

void CsvLogger::logPedalsUpdate(const ZudUsbPedalsJoystickUpdate &update, uint64_t readTimeMicros)
{
    const uint64_t dt = readTimeMicros - lastLogReadTimeMicros;
    lastLogReadTimeMicros = readTimeMicros;
    if (!logFile.isOpen())
        return;
    QByteArray row;
    appendPedalsRow(row, update, readTimeMicros, dt);
    if (writeRows(row))
        ++logRows;
}

void CsvLogger::refreshButton()
{
    ui->pushButton_Logging->setEnabled(selection.wheelBase() || selection.pedals() ||
                                       logFile.isOpen());
}

QString CsvLogger::closeForEnd()
{
    if (!logFile.isOpen())
        return QString();
    const QString path = QDir::toNativeSeparators(logFile.fileName());
    const bool flushed = logFile.flush();
    const QString error = logFile.errorString();
    logFile.close();
    return flushed ? tr("log %1 closed").arg(path)
                   : tr("log %1 closed, its last rows not written: %2").arg(path, error);
}
