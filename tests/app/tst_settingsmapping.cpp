// SPDX-License-Identifier: GPL-3.0-or-later
// The settings editor's conversions: centre offset text, slider levels and
// their labels, and profile names between the 16-byte field and the list.
#include "app/SettingsMapping.h"

#include <QtTest>
#include <cstring>

namespace {

ZudUsbWheelBaseProfile profileNamed(const QByteArray &bytes)
{
    ZudUsbWheelBaseProfile profile;
    std::memset(&profile, 0, sizeof profile);
    std::memcpy(profile.name, bytes.constData(), size_t(qMin(bytes.size(), zudProfileNameBytes)));
    profile.centerOffset = 0.25f; // the bytes right after the name
    return profile;
}

QByteArray field(const ZudUsbWheelBaseProfile &profile)
{
    return QByteArray(reinterpret_cast<const char *>(profile.name), zudProfileNameBytes);
}

} // namespace

class SettingsMappingTest : public QObject {
    Q_OBJECT

private slots:
    void centerOffsetTexts_data();
    void centerOffsetTexts();
    void levelsAndLabels();
    void namesReadFromTheField();
    void utf8Validation();
    void typedNamesCutAtCharacterBoundaries_data();
    void typedNamesCutAtCharacterBoundaries();
    void storingNames();
};

void SettingsMappingTest::centerOffsetTexts_data()
{
    QTest::addColumn<float>("turns");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0.0f << "0.00 deg";
    QTest::newRow("half") << 0.5f << "180.00 deg";
    QTest::newRow("quarter") << 0.25f << "90.00 deg";
    QTest::newRow("negative") << -0.125f << "-45.00 deg";
    // 0.001f x 360 in float is 0.36000001430511475: two decimals.
    QTest::newRow("small") << 0.001f << "0.36 deg";
}

void SettingsMappingTest::centerOffsetTexts()
{
    QFETCH(float, turns);
    QFETCH(QString, text);
    QCOMPARE(centerOffsetText(turns), text);
}

void SettingsMappingTest::levelsAndLabels()
{
    QCOMPARE(levelToSlider(55), 5);
    QCOMPARE(levelToSlider(59), 5);
    QCOMPARE(levelToSlider(100), 10);
    QCOMPARE(levelToSlider(-55), -5); // toward zero, not down
    QCOMPARE(int(sliderToLevel(7)), 70);
    QCOMPARE(int(sliderToLevel(10)), 100);
    // Only the field's 8 bits are stored: 130 wraps to -126.
    QCOMPARE(int(sliderToLevel(13)), -126);
    QCOMPARE(levelPercentText(5), QStringLiteral("50%"));
    QCOMPARE(levelPercentText(0), QStringLiteral("0%"));
    QCOMPARE(percentText(75), QStringLiteral("75%"));
}

void SettingsMappingTest::namesReadFromTheField()
{
    QCOMPARE(profileNameText(profileNamed("Rally")), QStringLiteral("Rally"));
    // Sixteen bytes and no terminating zero: the name stops at the field's
    // end, not in the centre offset after it.
    QCOMPARE(profileNameText(profileNamed("ABCDEFGHIJKLMNOP")), QStringLiteral("ABCDEFGHIJKLMNOP"));
    QCOMPARE(storedNameBytes(profileNamed("ABCDEFGHIJKLMNOP")).size(), 16);
    // Bytes after the first zero are not part of the name.
    QCOMPARE(profileNameText(profileNamed(QByteArray("ab\0cd", 5))), QStringLiteral("ab"));
    QCOMPARE(profileNameText(profileNamed(QByteArray())), QString());
    // UTF-8 is shown as such; bytes that are not UTF-8 show one character
    // per byte.
    QCOMPARE(profileNameText(profileNamed("Stra\xc3\x9f"
                                          "e")),
             QString::fromUtf8("Straße"));
    QCOMPARE(profileNameText(profileNamed("Caf\xe9")), QString::fromLatin1("Caf\xe9"));
}

void SettingsMappingTest::utf8Validation()
{
    QVERIFY(isValidUtf8(QByteArray("plain")));
    QVERIFY(isValidUtf8(QByteArray("\xe2\x82\xac\xf0\x9f\x8f\x81")));
    QVERIFY(!isValidUtf8(QByteArray("\xe2\x82")));         // cut short
    QVERIFY(!isValidUtf8(QByteArray("\xc0\x80")));         // overlong zero
    QVERIFY(!isValidUtf8(QByteArray("\xed\xa0\x80")));     // surrogate
    QVERIFY(!isValidUtf8(QByteArray("\xf4\x90\x80\x80"))); // above U+10FFFF
    QVERIFY(!isValidUtf8(QByteArray("\x80")));             // stray continuation
    QVERIFY(!isValidUtf8(QByteArray("\xff")));
}

void SettingsMappingTest::typedNamesCutAtCharacterBoundaries_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("20 ascii") << "ABCDEFGHIJKLMNOPQRST" << QByteArray("ABCDEFGHIJKLMNOP");
    QTest::newRow("16 ascii") << "ABCDEFGHIJKLMNOP" << QByteArray("ABCDEFGHIJKLMNOP");
    QTest::newRow("empty") << "" << QByteArray();
    // Eight two-byte letters fill the field exactly.
    QTest::newRow("2-byte exact") << QString::fromUtf8("ääääääääää")
                                  << QString::fromUtf8("ääääääää").toUtf8();
    // One ASCII letter then two-byte letters: the ninth would straddle the
    // limit and is left out whole.
    QTest::newRow("2-byte straddle")
        << QString::fromUtf8("aääääääää") << QString::fromUtf8("aäääääää").toUtf8();
    QTest::newRow("3-byte") << QString::fromUtf8("€€€€€€") << QString::fromUtf8("€€€€€").toUtf8();
    QTest::newRow("4-byte") << QString::fromUtf8("ab🏁🏁🏁🏁") << QString::fromUtf8("ab🏁🏁🏁").toUtf8();
}

void SettingsMappingTest::typedNamesCutAtCharacterBoundaries()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    const QByteArray bytes = profileNameBytes(typed);
    QCOMPARE(bytes, stored);
    QVERIFY(bytes.size() <= zudProfileNameBytes);
    QVERIFY(isValidUtf8(bytes));
}

void SettingsMappingTest::storingNames()
{
    ZudUsbWheelBaseProfile profile = profileNamed("Old name here!!");
    storeProfileName(profile, QStringLiteral("New"));
    QCOMPARE(field(profile), QByteArray("New\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
    QCOMPARE(profile.centerOffset.get(), 0.25f);

    storeProfileName(profile, QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
    QCOMPARE(field(profile), QByteArray("ABCDEFGHIJKLMNOP"));
    QCOMPARE(profile.centerOffset.get(), 0.25f);
    QCOMPARE(profileNameText(profile), QStringLiteral("ABCDEFGHIJKLMNOP"));

    // A name in another encoding is kept as it is while the list merely
    // shows it; typing a new one replaces it.
    profile = profileNamed("Caf\xe9");
    storeProfileName(profile, profileNameText(profile));
    QCOMPARE(storedNameBytes(profile), QByteArray("Caf\xe9"));
    storeProfileName(profile, QString::fromUtf8("Cafés"));
    QCOMPARE(storedNameBytes(profile), QByteArray("Caf\xc3\xa9s"));
    QCOMPARE(profileNameText(profile), QString::fromUtf8("Cafés"));
}

QTEST_GUILESS_MAIN(SettingsMappingTest)
#include "tst_settingsmapping.moc"
