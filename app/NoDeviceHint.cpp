#include "app/NoDeviceHint.h"

#include <QAbstractItemModel>
#include <QComboBox>

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

    QAbstractItemModel *model = deviceList->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &NoDeviceHint::follow);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &NoDeviceHint::follow);
    connect(model, &QAbstractItemModel::modelReset, this, &NoDeviceHint::follow);
    follow();
}

QString NoDeviceHint::placeholderText()
{
    return tr("No ZUD device connected.");
}

QString NoDeviceHint::hintText()
{
    QString text = tr("Plug in the ZUD wheel base or pedals: they appear in the list above "
                      "within a second.");
#ifdef Q_OS_LINUX
    text += QLatin1Char(' ') +
            tr("On Linux the first connection may need the device rule: when the tool finds a "
               "device it cannot open, it shows the command that installs the rule.");
#endif
    return text;
}

void NoDeviceHint::follow()
{
    setVisible(deviceList->count() == 0);
}
