// SPDX-License-Identifier: GPL-3.0-or-later
// The udev rule that gives the logged-in user access to the devices: parsed
// key by key, so that a rule which matches too much, too little or grants
// access to everybody fails here rather than on a user's machine.
#include "usb/DevicePermissions.h"
#include "usb/UsbManager.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

const QString rulePath = QStringLiteral(ZUD_SOURCE_DIR "/dist/70-zud-wheel.rules");

struct Key {
    QString name; // SUBSYSTEM, ATTRS{idVendor}, TAG, ...
    QString op;   // ==, !=, =, +=, -=, :=
    QString value;
};
using Rule = QList<Key>;

// One rule per non-comment line; keys are NAME op "value", comma separated.
// Returns false with a message on anything else.
bool parseRules(const QString &text, QList<Rule> &rules, QString &error)
{
    static const QString pattern = QStringLiteral(
        "^\\s*([A-Z_]+(?:\\{[^}]+\\})?)\\s*(==|!=|\\+=|-=|:=|=)\\s*\"([^\"]*)\"\\s*(,|$)");
    static const QRegularExpression key(pattern);
    int lineNo = 0;
    for (const QString &line : text.split('\n')) {
        ++lineNo;
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        Rule rule;
        QString rest = trimmed;
        while (!rest.isEmpty()) {
            const auto m = key.match(rest);
            if (!m.hasMatch()) {
                error = QStringLiteral("line %1: cannot parse '%2'").arg(lineNo).arg(rest);
                return false;
            }
            rule.append({m.captured(1), m.captured(2), m.captured(3)});
            rest = rest.mid(m.capturedLength()).trimmed();
        }
        rules.append(rule);
    }
    return true;
}

QStringList values(const Rule &rule, const QString &name, const QString &op)
{
    QStringList out;
    for (const Key &k : rule)
        if (k.name == name && k.op == op)
            out << k.value;
    return out;
}

QString readRules()
{
    QFile file(rulePath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

class TestUdevRule : public QObject {
    Q_OBJECT

private slots:
    void fileNameSortsBeforeTheSeatRules();
    void everyRuleGrantsUaccessToHidrawOfTheVendorOnly();
    void theRulesCoverExactlyTheSupportedProducts();
    void noRuleOpensTheNodesToEverybody();
    void thePermissionMessageInstallsTheSameRule();
};

void TestUdevRule::fileNameSortsBeforeTheSeatRules()
{
    const QString name = QFileInfo(rulePath).fileName();
    QVERIFY(QFileInfo::exists(rulePath));
    QVERIFY(name.endsWith(QLatin1String(".rules")));
    // udev runs rules in file name order; uaccess is applied in 73-seat-late.
    QVERIFY2(name < QLatin1String("73-seat-late.rules"), qPrintable(name));
}

void TestUdevRule::everyRuleGrantsUaccessToHidrawOfTheVendorOnly()
{
    QList<Rule> rules;
    QString error;
    QVERIFY2(parseRules(readRules(), rules, error), qPrintable(error));
    QVERIFY(!rules.isEmpty());
    for (const Rule &rule : rules) {
        QCOMPARE(values(rule, "SUBSYSTEM", "=="), QStringList{"hidraw"});
        QCOMPARE(values(rule, "ATTRS{idVendor}", "=="), QStringList{"0483"});
        QVERIFY(values(rule, "TAG", "+=").contains("uaccess"));
        // Without a product match the rule would take every device of the
        // vendor, which makes many unrelated boards.
        QCOMPARE(values(rule, "ATTRS{idProduct}", "==").size(), 1);
    }
}

void TestUdevRule::theRulesCoverExactlyTheSupportedProducts()
{
    QList<Rule> rules;
    QString error;
    QVERIFY2(parseRules(readRules(), rules, error), qPrintable(error));
    QSet<QString> matched;
    for (const Rule &rule : rules)
        for (const QString &alternatives : values(rule, "ATTRS{idProduct}", "=="))
            for (const QString &id : alternatives.split('|')) {
                // sysfs spells ids as four lower-case hex digits; anything
                // else never matches.
                QVERIFY2(QRegularExpression("^[0-9a-f]{4}$").match(id).hasMatch(), qPrintable(id));
                matched.insert(id);
            }
    const QSet<QString> supported = {
        QString::number(ZudUsbIds::wheelBaseOrBootloader, 16).rightJustified(4, '0'),
        QString::number(ZudUsbIds::wheelBase, 16).rightJustified(4, '0'),
        QString::number(ZudUsbIds::pedals, 16).rightJustified(4, '0'),
        QString::number(ZudUsbIds::bootloader, 16).rightJustified(4, '0'),
        QString::number(ZudUsbIds::bootloaderAlt, 16).rightJustified(4, '0'),
    };
    QCOMPARE(matched, supported);
}

void TestUdevRule::noRuleOpensTheNodesToEverybody()
{
    QList<Rule> rules;
    QString error;
    QVERIFY2(parseRules(readRules(), rules, error), qPrintable(error));
    for (const Rule &rule : rules) {
        for (const Key &k : rule) {
            if (k.name != QLatin1String("MODE"))
                continue;
            bool ok = false;
            const int mode = k.value.toInt(&ok, 8);
            QVERIFY2(ok && (mode & 0006) == 0, qPrintable("MODE=" + k.value));
        }
        // A group grant would reach every member of the group, logged in or not.
        QVERIFY(values(rule, "GROUP", "=").isEmpty());
    }

    // The parser itself sees through a world-writable rule.
    QList<Rule> bad;
    QVERIFY(parseRules("SUBSYSTEM==\"hidraw\", MODE=\"0666\"", bad, error));
    QCOMPARE(values(bad.value(0), "MODE", "="), QStringList{"0666"});
    QVERIFY(!parseRules("SUBSYSTEM==\"hidraw\" MODE=\"0666\"", bad, error));
}

void TestUdevRule::thePermissionMessageInstallsTheSameRule()
{
    QStringList ruleLines;
    for (const QString &line : readRules().split('\n'))
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith('#'))
            ruleLines << line.trimmed();
    QCOMPARE(ruleLines, QStringList{QString::fromLatin1(zudUdevRule)});
    const QString message = QString::fromStdString(devicePermissionMessage("/dev/hidraw7"));
    QVERIFY(message.contains("'" + QString::fromLatin1(zudUdevRule) + "'"));
    QVERIFY(message.contains("/etc/udev/rules.d/70-zud-wheel.rules"));
}

QTEST_GUILESS_MAIN(TestUdevRule)
#include "tst_udev_rule.moc"
