// Which device each COM entry means and why, the chooser's list of plugged-in
// devices over a made-up system, and the open failures that name their cure.
#include "link/device_choice.h"
#include "link/open_failure.h"
#include "support/pty.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace rava;

namespace {

const QString kById = QStringLiteral("/dev/serial/by-id/");

SerialDevice device(const char* location, const char* description = "", const char* maker = "",
                    const char* serial = "") {
    return SerialDevice{QString::fromLatin1(location), QString(), QString::fromLatin1(description),
                        QString::fromLatin1(maker), QString::fromLatin1(serial)};
}

} // namespace

class DeviceChoiceTest : public QObject {
    Q_OBJECT

    QTemporaryDir config_;
    DeviceChoices& choices() { return DeviceChoices::instance(); }

private slots:
    void initTestCase() {
        QVERIFY(config_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
        for (int port = 1; port <= 4; ++port)
            qunsetenv(qPrintable(QStringLiteral("RAVA2_COM%1").arg(port)));
    }
    void cleanup() {
        qunsetenv("RAVA2_COM2");
        choices().clearStartChoices();
        for (int port = 1; port <= 4; ++port)
            choices().forget(port);
    }

    // Adapters are offered by their stable name (the first link in name order
    // where two point at one device), first, with what is known of them; a
    // link to a device not listed changes nothing.
    void chooserListOverAFakeSystem() {
        QList<SerialDevice> devices{
            device("/dev/ttyS0"),
            device("/dev/ttyUSB1", "CP2102 USB to UART Bridge Controller", "Silicon Labs", "0001"),
            device("/dev/ttyACM0", "Arduino Uno", "Arduino (www.arduino.cc)", "7563"),
            device("/dev/ttyUSB0", "FTDI FT232R USB UART", "FTDI", " A50285BI "),
        };
        attachStableNames(devices,
                          {{kById + "usb-Silicon_Labs_CP2102_0001-if00-port0", "/dev/ttyUSB1"},
                           {kById + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "/dev/ttyUSB0"},
                           {kById + "usb-FTDI_old-if00-port0", "/dev/ttyUSB9"},
                           {kById + "usb-Silicon_Labs_CP2102-if00-port0", "/dev/ttyUSB1"}});
        sortForChoosing(devices);
        QStringList lines;
        for (const SerialDevice& d : devices)
            lines << deviceLine(d);
        const QStringList expected{
            kById + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 (now /dev/ttyUSB0): "
                    "FTDI FT232R USB UART, serial number A50285BI",
            kById + "usb-Silicon_Labs_CP2102-if00-port0 (now /dev/ttyUSB1): "
                    "CP2102 USB to UART Bridge Controller, Silicon Labs, serial number 0001",
            "/dev/ttyACM0: Arduino Uno, Arduino (www.arduino.cc), serial number 7563",
            "/dev/ttyS0"};
        QCOMPARE(lines, expected);
        QCOMPARE(devices[0].path(), kById + "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        QCOMPARE(devices[2].path(), QStringLiteral("/dev/ttyACM0"));
    }

    // The links of a folder resolve to their devices; a dangling one is left out.
    void stableLinksResolve() {
        QTemporaryDir dir;
        QFile target(dir.filePath("ttyUSB0"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(target.fileName(), dir.filePath("by-id-adapter")));
        QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("by-id-unplugged")));
        QDir().mkdir(dir.filePath("sub"));
        QList<QPair<QString, QString>> links;
        for (const auto& link : stableLinks(dir.path()))
            if (link.first.contains("by-id"))
                links << link;
        QCOMPARE(links.size(), 1);
        QCOMPARE(links[0].first, dir.filePath("by-id-adapter"));
        QCOMPARE(links[0].second, QFileInfo(target.fileName()).canonicalFilePath());
        QVERIFY(sameDevice(dir.filePath("by-id-adapter"), target.fileName()));
        QVERIFY(!sameDevice(dir.filePath("by-id-adapter"), dir.filePath("gone")));
    }

    // RAVA2_COMn over --device over the remembered choice over the default;
    // the choice is kept in the user's settings, one entry at a time, and
    // Forget goes back to the default.
    void whichDeviceEachEntryMeans() {
        auto line = [this](int port) {
            const EntryDevice e = choices().resolve(port);
            return entryLine(e, false);
        };
        QCOMPARE(line(2), QStringLiteral("COM 2: /dev/ttyS1 (default, missing)"));
        QVERIFY(!choices().hasChoice(2));

        choices().choose(2, " /dev/ttyUSB0 ");
        QCOMPARE(line(2), QStringLiteral("COM 2: /dev/ttyUSB0 (remembered choice, missing)"));
        QSettings stored(QSettings::NativeFormat, QSettings::UserScope, "rava2-demo", "rava2-demo");
        QCOMPARE(stored.value("devices/COM2").toString(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(line(3), QStringLiteral("COM 3: /dev/ttyS2 (default, missing)"));

        choices().setForThisStart(2, "/tmp/a");
        QCOMPARE(line(2), QStringLiteral("COM 2: /tmp/a (--device, this start only, missing)"));
        QCOMPARE(choices().remembered(2), QStringLiteral("/dev/ttyUSB0"));

        qputenv("RAVA2_COM2", "/tmp/b");
        QCOMPARE(line(2), QStringLiteral("COM 2: /tmp/b (RAVA2_COM2, missing; the chosen /tmp/a "
                                         "applies once RAVA2_COM2 is unset)"));
        choices().choose(2, "/tmp/c"); // replaces the start's choice, still under the variable
        QCOMPARE(choices().resolve(2).overridden, QStringLiteral("/tmp/c"));
        qunsetenv("RAVA2_COM2");
        QCOMPARE(line(2), QStringLiteral("COM 2: /tmp/c (remembered choice, missing)"));

        choices().forget(2);
        QCOMPARE(line(2), QStringLiteral("COM 2: /dev/ttyS1 (default, missing)"));
        stored.sync();
        QVERIFY(!stored.contains("devices/COM2"));
        QVERIFY(!choices().hasChoice(2));
    }

    // Each failure says what cures it.
    void failuresNameTheCure_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("facts");
        QTest::addColumn<QStringList>("says");
        QTest::addColumn<QStringList>("never");
        const int permission = QSerialPort::PermissionError;
        const int missing = QSerialPort::DeviceNotFoundError;
        QTest::newRow("not in the group")
            << permission << "exists group=dialout"
            << QStringList{"Cannot open COM 2 (/dev/ttyUSB0): permission denied.", "group dialout",
                           "sudo usermod -aG dialout \"$USER\"", "log out and log in again"}
            << QStringList{"holds"};
        QTest::newRow("joined after login")
            << permission << "exists group=uucp after-login"
            << QStringList{"group uucp", "log out and log in again"} << QStringList{"usermod"};
        QTest::newRow("root only")
            << permission << "exists group=root" << QStringList{"administrator", "/dev/ttyUSB0"}
            << QStringList{"usermod"};
        QTest::newRow("held by minicom")
            << permission << "exists accessible holder"
            << QStringList{"another program holds the device: minicom (process 4242). Close it"}
            << QStringList{"permission denied"};
        QTest::newRow("held, unknown by whom")
            << permission << "exists accessible"
            << QStringList{"another program holds the device (The device is already locked)"}
            << QStringList{"usermod"};
        QTest::newRow("unplugged")
            << missing << "entries plugged"
            << QStringList{"not plugged in", "Entries whose device is there: COM 4 (/dev/pts/5).",
                           "Plugged in now: " + kById + "usb-FTDI_X-if00-port0, /dev/ttyACM0.",
                           "right-click on the port list"}
            << QStringList{"RAVA2_COM"};
        QTest::newRow("unplugged, nothing there")
            << missing << ""
            << QStringList{"No entry's device is there now.", "No serial adapter is plugged in."}
            << QStringList{"Plugged in now"};
        QTest::newRow("unplugged, named by the variable")
            << missing << "environment"
            << QStringList{"not plugged in", "The device is named by RAVA2_COM2."}
            << QStringList{"right-click"};
    }
    void failuresNameTheCure() {
        QFETCH(int, error);
        QFETCH(QString, facts);
        QFETCH(QStringList, says);
        QFETCH(QStringList, never);
        EntryDevice entry{2, "/dev/ttyUSB0", DeviceOrigin::Remembered, QString()};
        if (facts.contains("environment"))
            entry.origin = DeviceOrigin::Environment;
        DeviceFacts f;
        f.exists = facts.contains("exists");
        f.accessible = facts.contains("accessible");
        f.group = facts.section("group=", 1).section(' ', 0, 0);
        f.groupAfterLogin = facts.contains("after-login");
        if (facts.contains("holder"))
            f.holders << "minicom (process 4242)";
        if (facts.contains("entries"))
            f.presentEntries << EntryDevice{4, "/dev/pts/5", DeviceOrigin::Remembered, QString()};
        if (facts.contains("plugged")) {
            SerialDevice adapter = device("/dev/ttyUSB3", "FT232R");
            adapter.stableName = kById + "usb-FTDI_X-if00-port0";
            f.plugged << adapter << device("/dev/ttyACM0");
        }
        const QString text = openFailureText(entry, QSerialPort::SerialPortError(error),
                                             "The device is already locked", f);
        for (const QString& part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        for (const QString& part : never)
            QVERIFY2(!text.contains(part), qPrintable(text));
    }

    // Another program that has the device open is found by its descriptors,
    // one that locked it by its lock file (named after the device or after
    // the link it was opened by); nobody holds a device once it has let go.
    void holdersAreFound_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("open descriptor") << "descriptor";
        QTest::newRow("lock file of the device") << "lock";
        QTest::newRow("lock file of a link") << "link lock";
    }
    void holdersAreFound() {
        QFETCH(QString, how);
        test::Pty pty;
        QVERIFY(pty.valid());
        QTemporaryDir locks;
        const QByteArray tmpBefore = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(locks.path()));
        const QString link = locks.filePath("adapter");
        QVERIFY(QFile::link(pty.stationPath(), link));
        const QString path = how.contains("link") ? link : pty.stationPath();
        QVERIFY(holdersOf(path).isEmpty());

        QProcess holder;
        if (how == "descriptor")
            holder.setStandardInputFile(path);
        holder.start("sleep", {"30"});
        QTRY_COMPARE(holder.state(), QProcess::Running);
        if (how.contains("lock")) {
            QString name =
                QDir::cleanPath(path).mid(QDir::cleanPath(path).startsWith("/dev/") ? 5 : 0);
            name.replace('/', '_');
            QFile lock(locks.filePath("LCK.." + name));
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(holder.processId()) + "\nminicom\nhost\n");
        }
        const QString expected = QStringLiteral("sleep (process %1)").arg(holder.processId());
        QTRY_COMPARE(holdersOf(path), QStringList{expected});
        holder.kill();
        QTRY_COMPARE(holder.state(), QProcess::NotRunning);
        QVERIFY(holdersOf(path).isEmpty());
        if (tmpBefore.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", tmpBefore);
    }
};

QTEST_GUILESS_MAIN(DeviceChoiceTest)
#include "test_device_choice.moc"
