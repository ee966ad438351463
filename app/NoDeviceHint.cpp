// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NoDeviceHint.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

// The window's texts share its translation context.
QString trWindow(const char *text)
{
    return QCoreApplication::translate("ZUD_wheel_tool", text);
}

} // namespace

NoDeviceHint::NoDeviceHint(QComboBox *deviceList, QWidget *parent)
    : QLabel(parent), deviceList(deviceList)
{
    setObjectName(QStringLiteral("label_NoDeviceHint"));
    setText(hintText());
    setWordWrap(true);
    // The placeholder shows while the list has no current item; a list
    // with a placeholder does not make its first item current by itself,
    // the window does that when the first device arrives.
    deviceList->setPlaceholderText(placeholderText());
    deviceList->installEventFilter(this);

    QAbstractItemModel *model = deviceList->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &NoDeviceHint::follow);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NoDeviceHint::follow);
    connect(model, &QAbstractItemModel::modelReset, this, &NoDeviceHint::follow);
    follow();
}

QString NoDeviceHint::placeholderText()
{
    return trWindow("No ZUD device connected.");
}

QString NoDeviceHint::hintText()
{
    QString text = trWindow("Plug in the ZUD wheel base or pedals: they appear in the list above "
                            "within a second.");
#ifdef Q_OS_LINUX
    text +=
        QLatin1Char(' ') +
        trWindow("On Linux the first connection may need the device rule: when the tool finds a "
                 "device it cannot open, it shows the command that installs the rule.");
#endif
    return text;
}

bool NoDeviceHint::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != deviceList || event->type() != QEvent::Paint || deviceList->isEditable() ||
        deviceList->currentIndex() >= 0 || deviceList->placeholderText().isEmpty())
        return QLabel::eventFilter(watched, event);
    // The list's own look, with the placeholder as its text in the
    // palette's colour for placeholders.
    QStylePainter painter(deviceList);
    QStyleOptionComboBox option;
    option.initFrom(deviceList);
    option.editable = false;
    option.frame = deviceList->hasFrame();
    option.subControls = QStyle::SC_All;
    option.iconSize = deviceList->iconSize();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    const QRect field =
        deviceList->style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, deviceList)
            .adjusted(1, 0, -1, 0);
    const QString text = deviceList->fontMetrics().elidedText(deviceList->placeholderText(),
                                                              Qt::ElideRight, field.width());
    // Drawn with its colour as the pen: the style's text drawing leaves
    // out text asked for in the placeholder role.
    painter.setPen(
        option.palette.color(deviceList->isEnabled() ? QPalette::Active : QPalette::Disabled,
                             QPalette::PlaceholderText));
    painter.drawText(
        field, int(QStyle::visualAlignment(option.direction, Qt::AlignLeft | Qt::AlignVCenter)),
        text);
    return true;
}

void NoDeviceHint::follow()
{
    setVisible(deviceList->count() == 0);
}
