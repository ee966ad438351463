#include "app/ZUD_wheel_tool.h"

#include <QListWidget>

ZUD_wheel_tool::ZUD_wheel_tool(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(tr("ZUD wheel tool"));
    deviceList = new QListWidget(this);
    setCentralWidget(deviceList);
    resize(480, 320);

    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<uint8_t>("uint8_t");
    connect(&usbManager, &UsbManager::onDeviceConnected, this, &ZUD_wheel_tool::onDeviceConnected);
    connect(&usbManager, &UsbManager::onDeviceDisconnected, this,
            &ZUD_wheel_tool::onDeviceDisconnected);
    usbManager.start();
}

ZUD_wheel_tool::~ZUD_wheel_tool()
{
    disconnect(&usbManager, nullptr, this, nullptr);
    usbManager.stop();
}

void ZUD_wheel_tool::onDeviceConnected(UsbDevice *device)
{
    auto *item = new QListWidgetItem(device->getProductString(), deviceList);
    item->setData(Qt::UserRole, device->getId());
}

void ZUD_wheel_tool::onDeviceDisconnected(UsbDevice *device)
{
    for (int i = deviceList->count() - 1; i >= 0; --i)
        if (deviceList->item(i)->data(Qt::UserRole).toString() == device->getId())
            delete deviceList->takeItem(i);
}
