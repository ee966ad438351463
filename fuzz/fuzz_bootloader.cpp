// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary acknowledgements during a firmware transfer. The first two bytes
// choose the image size; every chunk the tool sends must be a chunk of that
// image (never bytes from outside it), and no acknowledgement makes it send
// more than one report.
#include "FuzzSupport.h"
#include "devices/UsbDeviceZudBootloader.h"

#include <QByteArray>

using fuzzing::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    fuzzing::DeviceUnderTest<UsbDeviceZudBootloader> boot(0xA355, L"ZUD Bootloader");
    UsbDeviceZudBootloader &device = *boot.device;

    // Mostly small images; now and then one above the 32767-chunk limit.
    const unsigned choice = unsigned(data[0]) | unsigned(data[1]) << 8;
    const int imageSize = choice == 0xFFFF ? 32768 * 32 + 1 : int(choice % 3000);
    QByteArray image(imageSize, Qt::Uninitialized);
    for (int i = 0; i < imageSize; ++i)
        image[i] = char(uint8_t(i * 131 + 7));
    QByteArray padded = image;
    if (padded.size() % 32)
        padded.append(QByteArray(32 - padded.size() % 32, '\0'));
    const int chunks = padded.size() / 32;

    bool failed = false;
    QObject::connect(&device, &UsbDeviceZudBootloader::onUpdateFailed,
                     [&](UsbDevice *, const QString &message) {
                         if (message.isEmpty())
                             fail("a failure without a message");
                         failed = true;
                     });
    device.updateFirmware(image);
    if (chunks > 32767 && (!failed || boot.bus->writeCount() != 0))
        fail("an oversized image was not refused before sending");

    fuzzing::forEachReport(data + 2, size - 2, [&](const uint8_t *report) {
        const size_t before = boot.bus->writeCount();
        device.handleReport(report, 1);
        if (boot.bus->writeCount() - before > 1)
            fail("one acknowledgement made the tool send more than one report");
    });

    for (const vhid::Report &sent : boot.bus->writtenReports()) {
        if (sent.size() != 64 || sent[0] != 100 || sent[1] != 1)
            continue;
        const int index = int16_t(sent[34] | sent[35] << 8);
        const int total = int16_t(sent[36] | sent[37] << 8);
        if (total != chunks)
            fail("a chunk with a wrong chunk count");
        if (index == total)
            continue; // the end report
        if (index < 0 || index >= chunks)
            fail("a chunk outside the image was sent");
        if (std::memcmp(sent.data() + 2, padded.constData() + index * 32, 32) != 0)
            fail("chunk data that is not the image's");
        if (index > 0 && std::memcmp(sent.data() + 43, padded.constData() + index * 32 - 16, 16))
            fail("a previous tail that is not the image's");
    }
    return 0;
}
