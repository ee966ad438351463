// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowGuidance.h"

#include "app/DeviceControls.h"
#include "app/DeviceSelection.h"
#include "app/NoDeviceHint.h"
#include "livedata/LiveViewMath.h"
#include "ui_ZUD_wheel_tool.h"

#include <QKeySequence>
#include <QLayout>
#include <QMainWindow>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabWidget>

namespace {

// The controls Tab can reach, in the order the layouts place them: top to
// bottom and left to right, a tab widget followed by its pages in turn.
void collectInLayoutOrder(QLayout *layout, QList<QWidget *> &order)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->layout()) {
            collectInLayoutOrder(item->layout(), order);
        } else if (QWidget *widget = item->widget()) {
            if (widget->focusPolicy() & Qt::TabFocus)
                order << widget;
            if (auto *tabs = qobject_cast<QTabWidget *>(widget)) {
                for (int page = 0; page < tabs->count(); ++page)
                    if (QLayout *pageLayout = tabs->widget(page)->layout())
                        collectInLayoutOrder(pageLayout, order);
            } else if (auto *scroll = qobject_cast<QScrollArea *>(widget)) {
                // A page that scrolls lays out the widget inside.
                if (scroll->widget() && scroll->widget()->layout())
                    collectInLayoutOrder(scroll->widget()->layout(), order);
            } else if (widget->layout()) {
                collectInLayoutOrder(widget->layout(), order);
            }
        }
    }
}

} // namespace

WindowGuidance::WindowGuidance(QMainWindow *window, Ui::ZUD_wheel_tool *form,
                               const DeviceSelection &selection, const DeviceControls &controls)
    : ui(form), selection(selection)
{
    // Under the device list, shown while the list is empty.
    ui->verticalLayout_3->insertWidget(1, new NoDeviceHint(ui->comboBox_UsbDevice, window));

    // Results that need no answer go to the status bar.
    window->statusBar()->setObjectName(QStringLiteral("statusBar"));

    // Each pedal bar says which axis it is and how far it is pressed.
    const struct {
        QProgressBar *bar;
        QLabel *caption;
        const char *axis;
    } pedals[] = {{ui->pedalX, ui->label_PedalX, "X"},
                  {ui->pedalY, ui->label_PedalY, "Y"},
                  {ui->pedalZ, ui->label_PedalZ, "Z"}};
    for (const auto &pedal : pedals) {
        QLabel *caption = pedal.caption;
        const QString axis = QLatin1String(pedal.axis);
        caption->setText(pedalBarText(axis, pedal.bar->value()));
        connect(pedal.bar, &QProgressBar::valueChanged, caption,
                [caption, axis](int percent) { caption->setText(pedalBarText(axis, percent)); });
    }

    // A button's shortcut acts only while the button is enabled and shown.
    ui->pushButton_SaveConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ui->pushButton_SaveConfig->setToolTip(tr("Write all profiles to the wheel base (Ctrl+S)"));
    ui->pushButton_LoadConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    ui->pushButton_LoadConfig->setToolTip(tr("Read the profiles from the wheel base again, "
                                             "dropping unsaved edits (Ctrl+R)"));

    // Controls added in code after the form was built would otherwise come
    // last in the tab order, wherever they sit.
    QList<QWidget *> order;
    collectInLayoutOrder(ui->centralWidget->layout(), order);
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(&controls, &DeviceControls::applied, this,
            [this](bool, bool pedals) { showSelection(pedals); });
}

void WindowGuidance::showSelection(bool pedals)
{
    // Enter or leave the bootloader: there is something to send it to only
    // while a device of a known kind is selected.
    ui->pushButton_EnterExitBootloader->setEnabled(selection.wheelBase() || selection.pedals() ||
                                                   selection.bootloader());

    ui->label_PedalX->setVisible(pedals);
    ui->label_PedalY->setVisible(pedals);
    ui->label_PedalZ->setVisible(pedals);

    // Pedals have no force feedback and no encoder: those pages and the
    // force row say nothing about them. The debug page stays, for logging.
    QTabWidget *tabs = ui->tabWidget;
    tabs->setTabEnabled(tabs->indexOf(ui->tabWidgetPageFfb), !pedals);
    tabs->setTabEnabled(tabs->indexOf(ui->tabWidgetPageEncoder), !pedals);
    if (pedals && (tabs->currentWidget() == ui->tabWidgetPageFfb ||
                   tabs->currentWidget() == ui->tabWidgetPageEncoder))
        tabs->setCurrentWidget(ui->tabWidgetPageDebug);
    for (QWidget *widget :
         {static_cast<QWidget *>(ui->label_2), static_cast<QWidget *>(ui->horiSlider_Force),
          static_cast<QWidget *>(ui->label_Force)})
        widget->setVisible(!pedals);

    // Emptied with the decimal fault words they stand beside.
    ui->label_debugCurrentFaultsHex->clear();
    ui->label_debugClearedFaultsHex->clear();
}
