// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsMapping.h"

#include <cstring>
#include <utility>

QString centerOffsetText(float centerOffset)
{
    const float degrees = centerOffset * 360.0f;
    return QString::number(double(degrees), 'f', 2) + QStringLiteral(" deg");
}

int levelToSlider(int8_t level)
{
    return level / 10; // C++ integer division truncates toward zero
}

int8_t sliderToLevel(int sliderValue)
{
    return int8_t(uint8_t(unsigned(sliderValue * 10) & 0xFFu));
}

int8_t levelAsShown(int8_t level)
{
    return sliderToLevel(levelToSlider(level));
}

std::vector<LevelRounding> roundLevels(ZudUsbWheelBaseProfile &profile)
{
    std::vector<LevelRounding> changed;
    const std::pair<const char *, int8_t *> levels[] = {{"damping", &profile.damping},
                                                        {"friction", &profile.friction},
                                                        {"inertia", &profile.inertia},
                                                        {"spring", &profile.spring}};
    for (const auto &[field, level] : levels) {
        const int8_t shown = levelAsShown(*level);
        if (shown != *level) {
            changed.push_back({field, *level, shown});
            *level = shown;
        }
    }
    return changed;
}

QString percentText(int value)
{
    return QString::number(value) + QLatin1Char('%');
}

QString levelPercentText(int sliderValue)
{
    return percentText(sliderValue * 10);
}

QByteArray storedNameBytes(const ZudUsbWheelBaseProfile &profile)
{
    const char *name = reinterpret_cast<const char *>(profile.name);
    int length = 0;
    while (length < zudProfileNameBytes && name[length] != 0)
        ++length;
    return QByteArray(name, length);
}

bool isValidUtf8(const QByteArray &bytes)
{
    const int n = bytes.size();
    int i = 0;
    while (i < n) {
        const uint8_t lead = uint8_t(bytes[i]);
        int follow;
        uint32_t code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            follow = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            follow = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            follow = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + follow >= n)
            return false;
        for (int k = 1; k <= follow; ++k) {
            const uint8_t b = uint8_t(bytes[i + k]);
            if ((b & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (b & 0x3F);
        }
        static const uint32_t smallest[4] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[follow] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += follow + 1;
    }
    return true;
}

QString profileNameText(const ZudUsbWheelBaseProfile &profile)
{
    const QByteArray bytes = storedNameBytes(profile);
    return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QByteArray profileNameBytes(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= zudProfileNameBytes)
        return bytes;
    // Back up over continuation bytes to the start of the character that
    // would be split.
    int cut = zudProfileNameBytes;
    while (cut > 0 && (uint8_t(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

void storeProfileName(ZudUsbWheelBaseProfile &profile, const QString &text)
{
    const QByteArray stored = storedNameBytes(profile);
    if (!isValidUtf8(stored) && text == QString::fromLatin1(stored))
        return;
    const QByteArray bytes = profileNameBytes(text);
    std::memset(profile.name, 0, sizeof profile.name);
    std::memcpy(profile.name, bytes.constData(), size_t(bytes.size()));
}
