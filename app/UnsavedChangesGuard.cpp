// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/UnsavedChangesGuard.h"

#include "devices/UsbDeviceZudWheelBase.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

UnsavedChangesGuard::UnsavedChangesGuard(QMainWindow *window, QPushButton *saveButton)
    : QObject(window), window(window), saveButton(saveButton)
{
    // The toolkit shows the placeholder as '*' while the window is modified.
    if (!window->windowTitle().contains(QLatin1String("[*]")))
        window->setWindowTitle(window->windowTitle() + QStringLiteral("[*]"));
}

void UnsavedChangesGuard::setWheelBase(UsbDeviceZudWheelBase *selected)
{
    wheelBase = selected;
    loaded = ProfileTable();
    baseline = ProfileTable();
    hasLoaded = false;
    loadPending = false;
    baselinePending = false;
    refresh();
}

void UnsavedChangesGuard::expectLoad()
{
    loadPending = true;
}

bool UnsavedChangesGuard::settingsArrived()
{
    if (!wheelBase || !loadPending)
        return false;
    loadPending = false;
    loaded = profileTableOf(*wheelBase);
    baseline = loaded;
    hasLoaded = true;
    baselinePending = true;
    return true;
}

void UnsavedChangesGuard::editorFilled()
{
    if (wheelBase && baselinePending)
        baseline = profileTableOf(*wheelBase);
    baselinePending = false;
    refresh();
}

void UnsavedChangesGuard::measureAgainstDevice()
{
    baselinePending = false;
}

void UnsavedChangesGuard::refresh()
{
    if (baselinePending)
        return; // the editor is being filled after a load
    const bool was = modified;
    modified = wheelBase && hasLoaded && profileTableOf(*wheelBase) != baseline;
    window->setWindowModified(modified);
    QFont font = saveButton->font();
    if (font.bold() != modified) {
        font.setBold(modified);
        saveButton->setFont(font);
    }
    saveButton->setProperty("unsavedChanges", modified);
    if (modified != was)
        emit modifiedChanged(modified);
}

UnsavedChangesGuard::Decision UnsavedChangesGuard::confirmDiscard()
{
    refresh();
    if (!modified)
        return Decision::Proceed;
    QMessageBox box(QMessageBox::Warning, tr("Unsaved changes"), tr("Discard unsaved changes?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, window);
    box.setInformativeText(tr("The profiles were edited since they were loaded from the device."));
    box.setDefaultButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return Decision::SaveFirst;
    case QMessageBox::Discard:
        return Decision::Discard;
    default:
        return Decision::Cancel;
    }
}

void UnsavedChangesGuard::revertEdits()
{
    if (wheelBase && hasLoaded)
        applyProfileTable(baseline, *wheelBase);
    refresh();
}
