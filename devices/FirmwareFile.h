// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a firmware file for the bootloader: the whole file is the image.
// A file too large to be an image is refused before it is read, no more than
// the largest image is ever read (a file of gigabytes or a device file chosen
// by mistake would otherwise exhaust the memory), and a read that stops
// part-way is refused instead of sending a cut image. An empty file is
// refused too: the bootloader would take it as a complete firmware of
// nothing.
#pragma once

#include <QByteArray>
#include <QString>

struct FirmwareFileResult {
    enum Problem {
        None,
        CannotOpen, // the file cannot be opened; message is the system's reason
        TooLarge,   // more chunks than the bootloader can number
        CannotRead, // a read error or a file that shrank while being read
        Empty,      // no bytes at all
    };
    Problem problem = None;
    QString message;
    QByteArray image;

    bool ok() const { return problem == None; }
};

FirmwareFileResult readFirmwareFile(const QString &path);
