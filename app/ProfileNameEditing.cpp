// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProfileNameEditing.h"

#include "devices/ZudUsbReports.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QComboBox>
#include <QSignalBlocker>

QValidator::State ProfileNameValidator::validate(QString &input, int &) const
{
    return input.toUtf8().size() <= zudProfileNameBytes ? Acceptable : Invalid;
}

void setCurrentItemTextKeepingEdit(QComboBox *comboBox, const QString &text)
{
    const int index = comboBox->currentIndex();
    if (index < 0 || comboBox->itemText(index) == text)
        return;
    // The combo box copies a changed current item into its line edit when
    // the model reports the change; the model stays quiet here, and the
    // list view is asked to repaint instead.
    {
        const QSignalBlocker blocker(comboBox->model());
        comboBox->setItemText(index, text);
    }
    comboBox->view()->viewport()->update();
}
