// Text files between two stations joined by the module simulator: the
// project's serial channels on the simulator's links, and for the slave to
// master case two whole windows.
#include "link/line_settings.h"
#include "link/station_settings.h"
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace rava;
using namespace rava::text;
using rava::test::SimProcess;

namespace {
QWidget* at(MainWindow& win, const char* name) {
    return win.findChild<QWidget*>(QLatin1String(name));
}

// A master window on COM 1 and a slave window on COM 2, the simulator's
// links "master" and "slave"; the slave sends `path` to the master.
struct Pair {
    MainWindow master, slave;
    test::RecordingMessenger masterSays, slaveSays;
    Pair(SimProcess& sim, const QString& path) {
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        master.setMessenger(&masterSays);
        slave.setMessenger(&slaveSays);
        at(slave, "Combo1")->setProperty("currentIndex", 1); // COM 2
        QTest::mouseClick(at(slave, "Option2"), Qt::LeftButton);
        slave.setFileChooser([path](const QString&, const QString&) { return path; });
        QTest::mouseClick(at(master, "Command6"), Qt::LeftButton);
        QTest::mouseClick(at(slave, "Command3"), Qt::LeftButton);
    }
    QString received() { return at(master, "Text2")->property("plainText").toString(); }
};
} // namespace

class TextEndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString file(const QByteArray& bytes) {
        return test::writeFile(dir_, QStringLiteral("sample.txt"), bytes);
    }

private slots:
    void masterSendsFileToSlave_data() {
        QTest::addColumn<int>("setting");
        QTest::newRow("9600") << 0;
        QTest::newRow("19200") << 3;
        QTest::newRow("57600") << 6;
        QTest::newRow("115200") << 9;
    }
    void masterSendsFileToSlave() {
        QFETCH(int, setting);
        SimProcess sim({"--baud", QTest::currentDataTag(), "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        const QString line = QString::fromLatin1(kLineSettings[size_t(setting)].settings);
        auto master = test::openStation(1, sim.linkPath(QStringLiteral("master")), line);
        auto slave = test::openStation(2, sim.linkPath(QStringLiteral("slave")), line);
        QVERIFY(master && slave);
        // Lines of every byte value but CR and LF, some of them empty.
        QByteArray bytes;
        for (int i = 0, next = 0; i < 60; ++i) {
            QByteArray text = i % 7 == 3 ? QByteArray() : QByteArray::number(i) + ':';
            for (int k = 0; !text.isEmpty() && k < (i * 13) % 60; ++k, ++next)
                text.append(next % 256 == '\r' || next % 256 == '\n' ? 'x' : char(next % 256));
            bytes += text + "\r\n";
        }
        StationSettings station;
        station.setLineSetting(setting);
        station.setRemoteAddress(7);
        TextSender sender(*master, station);
        QVERIFY(sender.send(file(bytes)));
        // The slave gets the file as it is: the simulator takes the addresses.
        QCOMPARE(test::receive(*slave, bytes.size(), 60000), bytes);
    }

    // A Unix text file: every line a packet of its own, with CR LF.
    void slaveSendsLfFileToMasterWindow() {
        SimProcess sim({"--no-pacing", "master=master:0", "slave=slave:10"});
        QVERIFY(sim.start());
        Pair pair(sim, file("first\n\ncaf\xe9 \xff\nlast\n"));
        QTRY_VERIFY(at(pair.slave, "Command4")->isEnabled());
        QTest::mouseClick(at(pair.slave, "Command4"), Qt::LeftButton);
        // The received box shows the lines without a line break after the last.
        QTRY_COMPARE_WITH_TIMEOUT(pair.received(),
                                  QString::fromLatin1("first\n\ncaf\xe9 \xff\nlast"), 10000);
        QCOMPARE(at(pair.master, "Text8")->property("text").toString(), QStringLiteral("10"));
        QVERIFY(pair.masterSays.errors.isEmpty() && pair.slaveSays.errors.isEmpty());
    }

    // The simulator is killed in the middle of a file: both windows say
    // which device went away and how far they got, and are ready again.
    void simulatorKilledMidFile() {
        SimProcess sim({"master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        QByteArray lines;
        for (int i = 1; i <= 40; ++i)
            lines += "line " + QByteArray::number(i) + '\n';
        Pair pair(sim, file(lines));
        QTRY_VERIFY(at(pair.slave, "Command4")->isEnabled());
        QTest::mouseClick(at(pair.slave, "Command4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(pair.received().count('\n') >= 2, 10000);
        QVERIFY(sim.stop(SIGKILL) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(pair.slaveSays.errors.size(), 1, 5000);
        const QString said = pair.slaveSays.errors[0];
        QVERIFY2(said.startsWith(QStringLiteral("COM 2 (%1) is no longer available; the send "
                                                "stopped after line ")
                                     .arg(sim.linkPath(QStringLiteral("slave")))) &&
                     said.endsWith(QLatin1String(" of 40.")) &&
                     !said.contains(QLatin1String(" 40 of")),
                 qPrintable(said));
        QTRY_COMPARE_WITH_TIMEOUT(pair.masterSays.errors.size(), 1, 5000);
        QVERIFY2(pair.masterSays.errors[0].contains(
                     QStringLiteral("is no longer available; the reception stopped after")),
                 qPrintable(pair.masterSays.errors[0]));
        QVERIFY(at(pair.slave, "Command4")->isEnabled() &&
                at(pair.master, "Command6")->isEnabled());
    }
};

QTEST_MAIN(TextEndToEndTest)
#include "test_text_end_to_end.moc"
