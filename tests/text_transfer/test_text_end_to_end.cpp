// Text files between two stations joined by the module simulator: the
// project's serial channels on the simulator's links, and for the slave to
// master case two whole windows.
#include "link/line_settings.h"
#include "link/messenger.h"
#include "link/station_settings.h"
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace rava;
using namespace rava::text;
using rava::test::SimProcess;

class TextEndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    test::RecordingMessenger messages_;

    QString file(const QByteArray& bytes) {
        return test::writeFile(dir_, QStringLiteral("sample.txt"), bytes);
    }

private slots:
    void masterSendsFileToSlave_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("lines");
        QTest::newRow("9600") << 0 << 200;
        QTest::newRow("19200") << 3 << 60;
        QTest::newRow("57600") << 6 << 60;
        QTest::newRow("115200") << 9 << 200;
    }
    void masterSendsFileToSlave() {
        QFETCH(int, setting);
        QFETCH(int, lines);
        const LineSetting& line = kLineSettings[size_t(setting)];
        SimProcess sim({"--baud", QTest::currentDataTag(), "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        const QString settings = QString::fromLatin1(line.settings);
        auto master = test::openStation(1, sim.linkPath(QStringLiteral("master")), settings);
        auto slave = test::openStation(2, sim.linkPath(QStringLiteral("slave")), settings);
        QVERIFY(master && slave);
        // Lines of every byte value but CR and LF, some of them empty.
        QByteArray bytes;
        for (int i = 0, next = 0; i < lines; ++i) {
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

    void slaveSendsToMasterWindow_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray crlf("first\r\n\r\ncaf\xe9 \xff\r\nlast\r\n");
        QTest::newRow("slave 7") << 7 << crlf;
        QTest::newRow("slave 10, a line feed") << 10 << crlf;
        // A Unix text file: every line a packet of its own, with CR LF.
        QTest::newRow("slave 13, LF file") << 13 << QByteArray(crlf).replace("\r\n", "\n");
    }
    void slaveSendsToMasterWindow() {
        QFETCH(int, address);
        QFETCH(QByteArray, bytes);
        SimProcess sim(
            {"--no-pacing", "master=master:0", QStringLiteral("slave=slave:%1").arg(address)});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        auto at = [](MainWindow& win, const char* name) {
            return win.findChild<QWidget*>(QLatin1String(name));
        };
        at(slaveWin, "Combo1")->setProperty("currentIndex", 1);     // COM 2
        QTest::mouseClick(at(slaveWin, "Option2"), Qt::LeftButton); // slave
        const QString path = file(bytes);
        slaveWin.setFileChooser([&](const QString&, const QString&) { return path; });
        QTest::mouseClick(at(masterWin, "Command6"), Qt::LeftButton);
        QTest::mouseClick(at(slaveWin, "Command3"), Qt::LeftButton);
        const QString shown = QString::fromLatin1("first\n\ncaf\xe9 \xff\nlast\n");
        QTRY_COMPARE(at(slaveWin, "Text1")->property("plainText").toString(), shown);
        QTest::mouseClick(at(slaveWin, "Command4"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(at(masterWin, "Text2")->property("plainText").toString(), shown,
                                  10000);
        QCOMPARE(at(masterWin, "Text8")->property("text").toString(), QString::number(address));
        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TextEndToEndTest)
#include "test_text_end_to_end.moc"
