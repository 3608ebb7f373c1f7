// What the user meets when something outside the tool goes wrong: a device
// that does not exist, one held by another channel, a simulator that is
// stopped in the middle of a transfer, a file that went away, a very long
// line. Whole windows, real channels; every case ends with one clear
// message, the tab usable again and every channel and file closed.
#include "link/serial_channel.h"
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "sim/sim_process.h"
#include "support/pty.h"
#include "support/recording.h"
#include "window_station.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace rava;
using rava::test::SimProcess;

namespace {

const QString kSendIdle =
    QStringLiteral("Press the Open button to select the file. You can view it in the window below. "
                   "Press the Send button when you are ready to transmit.");
const QString kReceiveIdle = QStringLiteral(
    "Press the Receive button when you are ready. You can view the received file in the "
    "window below.");
const QString kRegisterFailed = QStringLiteral("Operation failed. Check the settings!");

// One station, with what these cases do on the text, polling and register tabs.
struct Station : test::WindowStation {
    using WindowStation::WindowStation;
    // Row 1 of the poll table checked, polling address 5 with command X.
    void pollRowOne() const {
        at<QCheckBox>("Check1_1")->setChecked(true);
        at<QLineEdit>("Text4_1")->setText(QStringLiteral("5"));
        at<QLineEdit>("Text14_1")->setText(QStringLiteral("X"));
    }
    QString label(const char* name) const { return at<QLabel>(name)->text(); }
    QString boxText(const char* name) const { return at<QPlainTextEdit>(name)->toPlainText(); }
    // Chooses `path` with Open... on the Send Text file tab.
    void chooseText(const QString& path) {
        win->setFileChooser([path](const QString&, const QString&) { return path; });
        click("Command3");
        // A file is shown piece by piece; Send is offered once it is whole.
        if (!QTest::qWaitFor([this] { return at("Command4")->isEnabled(); }, 10000))
            qWarning("Send was not offered for %s", qPrintable(path));
    }
};

// A holder of a device, as another channel of the same program would be.
std::unique_ptr<SerialChannel> holdDevice(const QString& path, int port = 4) {
    qputenv(qPrintable(QStringLiteral("RAVA2_COM%1").arg(port)), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("MSComm3"),
                                              QStringLiteral("the polling channel"), 1);
    ch->setPort(port);
    if (!ch->open())
        return nullptr;
    return ch;
}

} // namespace

class FailurePathsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString textFile(const QByteArray& bytes, const QString& name = QStringLiteral("lines.txt")) {
        return test::writeFile(dir_, name, bytes);
    }

    // The text tabs after a failed operation: one message saying `says`,
    // the tabs usable, the buttons as at rest, the channel closed.
    static void checkTextTabsAtRest(const Station& s, const QString& says) {
        QCOMPARE(s.messages.errors.size(), 1);
        QVERIFY2(s.messages.errors.first().contains(says, Qt::CaseInsensitive),
                 qPrintable(s.messages.errors.first()));
        QVERIFY(s.allTabsEnabled());
        QVERIFY(s.channelsClosed());
        QVERIFY(s.at("Command3")->isEnabled());
        QVERIFY(s.at("Command9")->isEnabled());
        QVERIFY(s.at("Command6")->isEnabled());
        QVERIFY(!s.at("Command5")->isEnabled());
        // The instructions are back (the first text differs by a blank or a
        // word from the one an ended operation puts back).
        QVERIFY(s.label("Label8").startsWith(QLatin1String("Press the Open button")));
        QVERIFY(s.label("Label9").startsWith(QLatin1String("Press the Receive button")));
    }

private slots:
    void cleanup() {
        qunsetenv("RAVA2_COM1");
        qunsetenv("RAVA2_COM2");
        qunsetenv("RAVA2_COM4");
    }

    // Send and Receive on a COM entry whose device does not exist, or whose
    // device another channel of the program holds.
    void textChannelUnavailable_data() {
        QTest::addColumn<bool>("send");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("says");
        QTest::newRow("send, no device") << true << false << "/nonexistent/rava-com1";
        QTest::newRow("receive, no device") << false << false << "/nonexistent/rava-com1";
        QTest::newRow("send, held") << true << true << "in use by the polling channel";
        QTest::newRow("receive, held") << false << true << "in use by the polling channel";
    }
    void textChannelUnavailable() {
        QFETCH(bool, send);
        QFETCH(bool, held);
        QFETCH(QString, says);
        test::Pty pty;
        QVERIFY(pty.valid());
        const QString device = held ? pty.stationPath() : QStringLiteral("/nonexistent/rava-com1");
        auto holder = held ? holdDevice(device) : nullptr;
        QVERIFY(!held || holder);
        Station s(device);
        if (send) {
            s.chooseText(textFile("one\r\ntwo\r\n"));
            s.click("Command4");
        } else {
            s.click("Command6");
        }
        checkTextTabsAtRest(s, says);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(s.messages.errors.first().contains(QLatin1String("COM 1")));
        // The file stays chosen: Send can be pressed again.
        QCOMPARE(s.at("Command4")->isEnabled(), send);
        if (!held)
            return;
        // Once the other channel lets go, the same tab works.
        holder->close();
        s.click(send ? "Command4" : "Command6");
        if (send)
            QCOMPARE(pty.receive(6, 3000), QByteArray("\0one\r\n", 6));
        else
            QTRY_VERIFY(s.win->link().textChannel().isOpen());
        QCOMPARE(s.messages.errors.size(), 1);
    }

    // The simulator is stopped while a file goes out or while lines come in.
    void textDeviceVanishes_data() {
        QTest::addColumn<bool>("send");
        QTest::newRow("during a send") << true;
        QTest::newRow("during a reception") << false;
    }
    void textDeviceVanishes() {
        QFETCH(bool, send);
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        Station s(sim.linkPath(QStringLiteral("M")));
        if (send) {
            QByteArray bytes;
            for (int i = 0; i < 300; ++i)
                bytes += "line " + QByteArray::number(i) + "\r\n";
            s.chooseText(textFile(bytes));
            s.click("Command4");
            QTRY_VERIFY(s.win->link().textChannel().isOpen());
            QTest::qWait(300);
            QCOMPARE(s.label("Label8"), QStringLiteral("Waiting, please..."));
        } else {
            s.click("Command6");
            auto other = test::openStation(2, sim.linkPath(QStringLiteral("S")));
            QVERIFY(other);
            QVERIFY(sim.waitStations({"M", "S"}));
            QVERIFY(other->write("hello\r\n"));
            QTRY_COMPARE(s.boxText("Text2"), QStringLiteral("hello"));
            QCOMPARE(s.at<QLineEdit>("Text8")->text(), QStringLiteral("7"));
        }
        QCOMPARE(sim.stop(SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.messages.errors.size(), 1, 5000);
        checkTextTabsAtRest(s, send ? QStringLiteral("The send stopped")
                                    : QStringLiteral("The reception stopped"));
        if (QTest::currentTestFailed())
            return;
        QVERIFY(s.messages.errors.first().contains(QLatin1String("COM 1")));
        QCOMPARE(s.at("Command4")->isEnabled(), send);
    }

    // The chosen text file is deleted (or replaced by a folder) between
    // Open... and Send: Send sends the lines the box shows, which were read
    // whole at Open..., and holds no file.
    void selectedFileGone_data() {
        QTest::addColumn<bool>("folder");
        QTest::newRow("deleted") << false;
        QTest::newRow("a folder in its place") << true;
    }
    void selectedFileGone() {
        QFETCH(bool, folder);
        test::Pty pty;
        Station s(pty.stationPath());
        const QString path = textFile("one\r\ntwo", QStringLiteral("gone.txt"));
        s.chooseText(path);
        QVERIFY(s.at("Command4")->isEnabled());
        QVERIFY(QFile::remove(path));
        if (folder)
            QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("gone.txt")));
        s.click("Command4");
        QCOMPARE(pty.receive(12, 3000), QByteArray("\0one\r\n\0two\r\n", 12));
        QTRY_VERIFY(s.channelsClosed());
        QVERIFY(s.messages.errors.isEmpty());
        QVERIFY(s.allTabsEnabled());
        QVERIFY(s.at("Command4")->isEnabled() && s.at("Command3")->isEnabled());
        // No descriptor of the program points at the file or the folder.
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System))
            QVERIFY2(!QFile::symLinkTarget(fds.filePath(fd)).contains(QLatin1String("gone.txt")),
                     qPrintable(QFile::symLinkTarget(fds.filePath(fd))));
        if (folder)
            QVERIFY(QDir(dir_.path()).rmdir(QStringLiteral("gone.txt")));
    }

    // A 5,000-byte line goes from a master window to a slave window through
    // the simulator whole, in one write, and is shown once, complete.
    void fiveThousandByteLine() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("S")).toLocal8Bit());
        Station master(sim.linkPath(QStringLiteral("M")));
        Station slave(sim.linkPath(QStringLiteral("M")));
        slave.at("Combo1")->setProperty("currentIndex", 1); // COM 2
        QTest::mouseClick(slave.at("Option2"), Qt::LeftButton);
        master.win->settings().setRemoteAddress(7);
        QByteArray line;
        for (int i = 0; i < 5000; ++i)
            line.append(i % 97 == 96 ? char(0xC0 + i % 64) : char(0x21 + i % 94));
        master.chooseText(textFile("first\r\n" + line + "\r\nlast\r\n"));
        slave.click("Command6");
        master.click("Command4");
        const QString expected =
            QStringLiteral("first\n") + QString::fromLatin1(line) + QStringLiteral("\nlast");
        QTRY_COMPARE_WITH_TIMEOUT(slave.boxText("Text2"), expected, 10000);
        // Both ends come to rest: the send ends, the reception times out.
        QTRY_VERIFY_WITH_TIMEOUT(master.channelsClosed() && slave.channelsClosed(), 5000);
        QVERIFY(master.allTabsEnabled() && slave.allTabsEnabled());
        QCOMPARE(slave.label("Label9"), kReceiveIdle);
        QVERIFY(master.messages.errors.isEmpty());
        QVERIFY(slave.messages.errors.isEmpty());
    }

    // Polling on a COM entry whose device does not exist: Start on a master,
    // the "Polling" tab on a slave.
    void pollingDeviceMissing_data() {
        QTest::addColumn<bool>("master");
        QTest::newRow("master Start") << true;
        QTest::newRow("slave on the Polling tab") << false;
    }
    void pollingDeviceMissing() {
        QFETCH(bool, master);
        Station s(QStringLiteral("/nonexistent/rava-com1"));
        if (master) {
            s.pollRowOne();
            s.click("Command15");
            QVERIFY(s.at("Command15")->isEnabled());
        } else {
            QTest::mouseClick(s.at("Option2"), Qt::LeftButton);
            s.win->tabStrip()->setCurrentIndex(int(Tab::Polling));
        }
        QCOMPARE(s.messages.errors.size(), 1);
        QVERIFY2(s.messages.errors.first().contains(QLatin1String("/nonexistent/rava-com1")),
                 qPrintable(s.messages.errors.first()));
        QVERIFY(s.channelsClosed());
        QVERIFY(s.allTabsEnabled());
        // The user can go elsewhere and work on.
        s.win->tabStrip()->setCurrentIndex(int(Tab::SetUp));
        QCOMPARE(s.win->tabStrip()->currentIndex(), int(Tab::SetUp));
        QVERIFY(s.channelsClosed());
    }

    // A master's polling cycle holds the port; a text transfer or a register
    // read on the same device is refused with the reason, and the cycle goes
    // on untouched.
    void portHeldByPolling_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("text Send") << QByteArray("Command4");
        QTest::newRow("text Receive") << QByteArray("Command6");
        QTest::newRow("register Read") << QByteArray("Command16");
    }
    void portHeldByPolling() {
        QFETCH(QByteArray, button);
        test::Pty pty;
        QVERIFY(pty.valid());
        Station s(pty.stationPath());
        s.chooseText(textFile("one\r\n"));
        s.pollRowOne();
        s.click("Command15");
        QCOMPARE(pty.receive(2, 3000), QByteArray("\x05X"));
        s.click(button.constData());
        QTRY_COMPARE(s.messages.errors.size(), 1);
        QVERIFY2(s.messages.errors.first().contains(QLatin1String("in use by the polling channel")),
                 qPrintable(s.messages.errors.first()));
        QVERIFY(s.allTabsEnabled());
        QVERIFY(!s.win->link().textChannel().isOpen());
        QVERIFY(!s.win->link().programmingChannel().isOpen());
        QVERIFY(s.at("Command6")->isEnabled() && !s.at("Command5")->isEnabled());
        for (const char* b : {"Command4", "Command16", "Command17", "Command18", "Command19"})
            QVERIFY(s.at(b)->isEnabled());
        // Polling goes on, and ends cleanly.
        QVERIFY(s.win->link().pollingChannel().isOpen());
        QVERIFY(s.at("Command20")->isEnabled());
        s.click("Command20");
        QVERIFY(s.channelsClosed());
        QCOMPARE(s.messages.errors.size(), 1);
    }

    // Register programming on port 1 while another channel holds the device:
    // the reason is told, the frame works again once the device is free.
    void registerPortHeld() {
        test::Pty pty;
        QVERIFY(pty.valid());
        auto holder = holdDevice(pty.stationPath());
        QVERIFY(holder);
        Station s(pty.stationPath());
        s.click("Command16");
        QTRY_COMPARE(s.label("Label17"), kRegisterFailed);
        QCOMPARE(s.messages.errors.size(), 1);
        QVERIFY2(s.messages.errors.first().contains(QLatin1String("in use by the polling channel")),
                 qPrintable(s.messages.errors.first()));
        QVERIFY(s.channelsClosed());
        for (const char* b : {"Command16", "Command17", "Command18", "Command19"})
            QVERIFY(s.at(b)->isEnabled());
        holder->close();
        s.click("Command16");
        QCOMPARE(pty.receive(2, 3000), QByteArray("$\0", 2));
        QVERIFY(pty.send(QByteArray(1, char(9))));
        QTRY_COMPARE(s.label("Label17"), QStringLiteral("Address is 9"));
        QVERIFY(s.channelsClosed());
    }
};

QTEST_MAIN(FailurePathsTest)
#include "test_failure_paths.moc"
