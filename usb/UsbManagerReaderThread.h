// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QThread>

class UsbManager;

// The one thread that reads every registered device (see UsbManager).
class UsbManagerReaderThread : public QThread {
public:
    explicit UsbManagerReaderThread(UsbManager *manager) : QThread(nullptr), manager(manager) {}

protected:
    void run() override;

private:
    UsbManager *manager;
};
