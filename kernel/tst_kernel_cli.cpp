// zud-wheel against kernel HID devices: the installed program, run as a
// child process, lists the uhid devices and updates a wheel base's firmware
// through both replugs.
#include "KernelTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run zudWheel(const QStringList &arguments, const QString &dataHome, int timeoutMs = 600000)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", dataHome);
    process.setProcessEnvironment(environment);
    process.start(ktest::programPath("ZUD_WHEEL", "../zud-wheel"), arguments);
    Run run;
    if (!process.waitForStarted(10000) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestKernelCli : public QObject {
    Q_OBJECT

private slots:
    void cli_listsKernelDevicesAsJson()
    {
        QTemporaryDir dir;
        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20") > 0);
        QVERIFY(emu.plug("plug pedals 20") > 0);
        const QString wheelLine = emu.takeEvent("plugged");
        const QString pedalsLine = emu.takeEvent("plugged");
        QVERIFY(!wheelLine.isNull() && !pedalsLine.isNull());

        const Run run = zudWheel({"list", "--json"}, dir.path(), 60000);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QJsonArray devices = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(devices.size(), 2);
        QMap<QString, QJsonObject> byKind;
        for (const QJsonValue &value : devices)
            byKind.insert(value.toObject().value("kind").toString(), value.toObject());
        QCOMPARE(byKind.keys(), (QStringList{"pedals", "wheel base"}));
        // "plugged <tag> <pid> <node> <product>"
        QCOMPARE(byKind["wheel base"].value("path").toString(), wheelLine.section(' ', 3, 3));
        QCOMPARE(byKind["pedals"].value("path").toString(), pedalsLine.section(' ', 3, 3));
        QVERIFY(byKind["wheel base"].value("path").toString().startsWith("/dev/hidraw"));
        QCOMPARE(byKind["wheel base"].value("vendorId").toInt(), 0x0483);
        QCOMPARE(byKind["wheel base"].value("productId").toInt(), 0xA355);
        QCOMPARE(byKind["pedals"].value("productId").toInt(), 0xA112);
        QCOMPARE(byKind["wheel base"].value("product").toString(), QString("ZUD Wheel Base"));
    }

    void cli_updatesFirmwareThroughBothReplugs()
    {
        QTemporaryDir dir;
        const QString firmware = dir.filePath("new.fw");
        QByteArray image(48 * 1024 + 5, 0);
        QRandomGenerator random(11);
        for (char &b : image)
            b = char(random.generate() & 0xFF);
        {
            QFile f(firmware);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(image), qint64(image.size()));
        }

        ktest::Emulator emu;
        QVERIFY(emu.start());
        QVERIFY(emu.plug("plug wheel 20 3") > 0);
        QVERIFY(!emu.takeEvent("plugged").isNull());

        const Run run = zudWheel({"update-firmware", firmware}, dir.filePath("data"));
        QVERIFY2(run.status == 0, qPrintable(run.out + run.err));
        QVERIFY2(run.out.contains("The profiles survived the update: 3 profiles"),
                 qPrintable(run.out));

        const QString bootLine = emu.takeEvent("plugged", 60000);
        QVERIFY(bootLine.endsWith("ZUD Wheel Base Bootloader"));
        const QString backLine = emu.takeEvent("plugged", 60000);
        QVERIFY(backLine.endsWith(" ZUD Wheel Base"));
        QVERIFY(run.out.contains("The wheel base is back at " + backLine.section(' ', 3, 3)));

        const QString dump = dir.filePath("received");
        const QString answer =
            emu.command(QString("image %1 %2").arg(bootLine.section(' ', 1, 1)).arg(dump));
        QVERIFY2(answer.startsWith("ok 49184 ended=1 crcMismatches=0 missing=0"),
                 qPrintable(answer));
        const QByteArray received = readFile(dump);
        QCOMPARE(received.left(image.size()), image);
        QCOMPARE(received.mid(image.size()), QByteArray(received.size() - image.size(), '\0'));
    }
};

QTEST_GUILESS_MAIN(TestKernelCli)
#include "tst_kernel_cli.moc"
