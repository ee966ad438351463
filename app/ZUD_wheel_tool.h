#pragma once

#include "usb/UsbManager.h"

#include <QMainWindow>

class QListWidget;

// The main window. It owns the device manager for the whole run.
class ZUD_wheel_tool : public QMainWindow {
    Q_OBJECT

public:
    explicit ZUD_wheel_tool(QWidget *parent = nullptr);
    ~ZUD_wheel_tool() override;

    UsbManager &manager() { return usbManager; }

private slots:
    void onDeviceConnected(UsbDevice *device);
    void onDeviceDisconnected(UsbDevice *device);

private:
    UsbManager usbManager;
    QListWidget *deviceList;
};
