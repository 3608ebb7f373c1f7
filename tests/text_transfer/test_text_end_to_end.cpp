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

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

    // Open... of something that is no regular file returns at once with a
    // message and leaves the tab as it was.
    void openRefusesWhatIsNoFile_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        const QString fifo = dir_.filePath(QStringLiteral("pipe.txt"));
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        QTest::newRow("named pipe") << fifo << "a named pipe";
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << "a device";
        QTest::newRow("folder") << dir_.path() << "a folder";
    }
    void openRefusesWhatIsNoFile() {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        MainWindow win;
        test::RecordingMessenger messages;
        win.setMessenger(&messages);
        QString chosen = file("one\ntwo\n");
        win.setFileChooser([&](const QString&, const QString&) { return chosen; });
        auto* open = win.findChild<QWidget*>(QStringLiteral("Command3"));
        auto* send = win.findChild<QWidget*>(QStringLiteral("Command4"));
        auto* box = win.findChild<QWidget*>(QStringLiteral("Text1"));
        QTest::mouseClick(open, Qt::LeftButton);
        QTRY_VERIFY(send->isEnabled());
        const QString shown = box->property("plainText").toString();
        QCOMPARE(shown, QStringLiteral("one\ntwo\n"));

        // Should the window wait on the pipe after all, a writer that comes
        // and goes frees it, so that the test fails instead of hanging.
        std::atomic<bool> done{false};
        const QByteArray fifo = QFile::encodeName(path);
        std::thread rescue([&] {
            for (int i = 0; i < 50 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!done && path.endsWith(QLatin1String("pipe.txt"))) {
                const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        QElapsedTimer clock;
        clock.start();
        chosen = path;
        QTest::mouseClick(open, Qt::LeftButton);
        const qint64 ms = clock.elapsed();
        done = true;
        rescue.join();
        QVERIFY2(ms < 1000, qPrintable(QStringLiteral("Open... took %1 ms").arg(ms)));
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY2(messages.errors[0].contains(QStringLiteral("it is %1, not a text file").arg(kind)),
                 qPrintable(messages.errors[0]));
        QTest::qWait(50);
        QCOMPARE(box->property("plainText").toString(), shown);
        QVERIFY(send->isEnabled());
    }

    // The simulator stops in the middle of a file: both windows say which
    // device went away and how far they got, and are ready again.
    void simulatorStopsMidFile() {
        SimProcess sim({"master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        const QString masterLink = sim.linkPath(QStringLiteral("master"));
        const QString slaveLink = sim.linkPath(QStringLiteral("slave"));
        qputenv("RAVA2_COM1", masterLink.toLocal8Bit());
        qputenv("RAVA2_COM2", slaveLink.toLocal8Bit());
        MainWindow masterWin, slaveWin;
        test::RecordingMessenger masterSays, slaveSays;
        masterWin.setMessenger(&masterSays);
        slaveWin.setMessenger(&slaveSays);
        auto at = [](MainWindow& win, const char* name) {
            return win.findChild<QWidget*>(QLatin1String(name));
        };
        at(slaveWin, "Combo1")->setProperty("currentIndex", 1);     // COM 2
        QTest::mouseClick(at(slaveWin, "Option2"), Qt::LeftButton); // slave
        QByteArray lines;
        for (int i = 1; i <= 40; ++i)
            lines += "line " + QByteArray::number(i) + '\n';
        const QString path = file(lines);
        slaveWin.setFileChooser([&](const QString&, const QString&) { return path; });
        QTest::mouseClick(at(masterWin, "Command6"), Qt::LeftButton);
        QTest::mouseClick(at(slaveWin, "Command3"), Qt::LeftButton);
        QTRY_VERIFY(at(slaveWin, "Command4")->isEnabled());
        QTest::mouseClick(at(slaveWin, "Command4"), Qt::LeftButton);
        auto* received = masterWin.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
        QTRY_VERIFY_WITH_TIMEOUT(received->document()->blockCount() >= 3, 10000);
        QVERIFY(sim.stop(SIGKILL) != 0);

        QTRY_COMPARE_WITH_TIMEOUT(slaveSays.errors.size(), 1, 5000);
        const QRegularExpression sendStopped(
            QStringLiteral("^COM 2 \\(%1\\) is no longer available; the send stopped after line "
                           "(\\d+) of 40\\.$")
                .arg(QRegularExpression::escape(slaveLink)));
        const auto sent = sendStopped.match(slaveSays.errors[0]);
        QVERIFY2(sent.hasMatch(), qPrintable(slaveSays.errors[0]));
        QVERIFY(sent.captured(1).toInt() < 40);
        QTRY_COMPARE_WITH_TIMEOUT(masterSays.errors.size(), 1, 5000);
        const QRegularExpression receptionStopped(
            QStringLiteral("^COM 1 \\(%1\\) is no longer available; the reception stopped after "
                           "\\d+ lines\\.$")
                .arg(QRegularExpression::escape(masterLink)));
        QVERIFY2(receptionStopped.match(masterSays.errors[0]).hasMatch(),
                 qPrintable(masterSays.errors[0]));
        // Both are ready for the next go.
        QVERIFY(at(slaveWin, "Command4")->isEnabled() && at(masterWin, "Command6")->isEnabled());
        QVERIFY(!at(masterWin, "Command5")->isEnabled());
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
        QTRY_VERIFY(at(slaveWin, "Command4")->isEnabled());
        QTest::mouseClick(at(slaveWin, "Command4"), Qt::LeftButton);
        // The received box shows the lines without a line break after the last.
        QTRY_COMPARE_WITH_TIMEOUT(at(masterWin, "Text2")->property("plainText").toString(),
                                  shown.chopped(1), 10000);
        QCOMPARE(at(masterWin, "Text8")->property("text").toString(), QString::number(address));
        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TextEndToEndTest)
#include "test_text_end_to_end.moc"
