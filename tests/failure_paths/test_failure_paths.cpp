// What the user meets when something outside the tool goes wrong, through
// whole windows and real devices: a device that does not exist or that
// another channel holds, one that goes away in the middle of a transfer, a
// file deleted or emptied before Send, a temporary folder that cannot be
// used, a link planted where a temporary file goes, a very long line,
// garbage instead of an image header. Each ends with one clear message, the
// tab usable again and every channel and file closed.
#include "sim/sim_process.h"
#include "support/pty.h"
#include "window_station.h"

#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <csignal>
#include <sys/stat.h>

using namespace rava;
using rava::test::SimProcess;
using Station = rava::test::WindowStation;

namespace {
const QString kMissing = QStringLiteral("/nonexistent/rava-com1");
}

class FailurePathsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QTemporaryDir temp_; // the private temporary folder of image receptions

    // What `button` needs first: a file chosen for Send (long ones when
    // `large`), a checked row for Start. Returns the file.
    QString prepare(Station& s, const QByteArray& button, bool large = false) {
        QString path;
        if (button == "Command4") {
            QByteArray text = "one\r\ntwo\r\n";
            for (int i = 0; large && i < 300; ++i)
                text += "line " + QByteArray::number(i) + "\r\n";
            path = test::writeFile(dir_, QStringLiteral("lines.txt"), text);
            s.choose("Command3", path, "Command4");
        } else if (button == "Command8") {
            QImage image(large ? 400 : 24, 16, QImage::Format_RGB32);
            image.fill(Qt::darkCyan);
            path = dir_.filePath(QStringLiteral("picture.bmp"));
            image.save(path, "BMP");
            s.choose("Command7", path, "Command8");
        } else if (button == "Command15") {
            s.pollRowOne();
        }
        return path;
    }

private slots:
    void init() { qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp_.path())); }
    void cleanup() {
        qunsetenv("RAVA2_COM1");
        qunsetenv("RAVA2_COM2");
        for (const char* name : {"tempkelto100275.bmp", "tempkelto250881.bmp"})
            QFile::remove(temp_.filePath(QLatin1String(name)));
    }

    // A button that opens a channel, on a device that does not exist or that
    // the window's own polling cycle holds; once polling ends, it works.
    void deviceUnavailable_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<bool>("held");
        QTest::newRow("text Send, no device") << QByteArray("Command4") << false;
        QTest::newRow("text Receive, held") << QByteArray("Command6") << true;
        QTest::newRow("image Send, held") << QByteArray("Command8") << true;
        QTest::newRow("image Receive, no device") << QByteArray("Command12") << false;
        QTest::newRow("polling Start, no device") << QByteArray("Command15") << false;
        QTest::newRow("register Read, held") << QByteArray("Command16") << true;
    }
    void deviceUnavailable() {
        QFETCH(QByteArray, button);
        QFETCH(bool, held);
        test::Pty pty;
        QVERIFY(pty.valid());
        Station s(held ? pty.stationPath() : kMissing);
        prepare(s, button);
        if (held) {
            s.pollRowOne();
            s.click("Command15");
            QCOMPARE(pty.receive(2, 3000), QByteArray("\x05X"));
        }
        s.click(button.constData());
        QTRY_COMPARE(s.messages.errors.size(), 1);
        if (held) {
            QVERIFY(s.win->link().pollingChannel().isOpen()); // the cycle goes on
            s.click("Command20");
        }
        s.checkAtRest(held ? QStringLiteral("in use by the polling channel") : kMissing,
                      button.constData());
        if (!held || QTest::currentTestFailed())
            return;
        s.click(button.constData());
        QVERIFY(!s.channelsClosed());
        QCOMPARE(s.messages.errors.size(), 1);
    }

    // The simulator is stopped in the middle of a transfer: every path says
    // it as the text path does, naming the COM entry and the device, then
    // what stopped. `button` starts the transfer (none: a slave shows its
    // "Polling" tab and answers); `ready` is usable again afterwards.
    void deviceVanishes_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("module");
        QTest::addColumn<QByteArray>("ready");
        QTest::addColumn<QString>("says");
        QTest::newRow("text send") << QByteArray("Command4") << "M" << QByteArray("Command4")
                                   << "the send stopped after line ";
        QTest::newRow("image send") << QByteArray("Command8") << "M" << QByteArray("Command8")
                                    << "the send stopped after block ";
        QTest::newRow("image reception")
            << QByteArray("Command12") << "M" << QByteArray("Command12")
            << "the reception stopped before an image header came.";
        QTest::newRow("polling cycle")
            << QByteArray("Command15") << "M" << QByteArray("Command15") << "polling stopped.";
        QTest::newRow("slave answering polls")
            << QByteArray() << "S" << QByteArray("Text24") << "the slave no longer answers.";
        QTest::newRow("register write") << QByteArray("Command17") << "P" << QByteArray("Command17")
                                        << "the register operation stopped.";
    }
    void deviceVanishes() {
        QFETCH(QByteArray, button);
        QFETCH(QString, module);
        QFETCH(QByteArray, ready);
        QFETCH(QString, says);
        SimProcess sim({"M=master:0", "S=slave:7", "P=prog:5"});
        QVERIFY(sim.start());
        Station s(sim.linkPath(module));
        prepare(s, button, true);
        if (button.isEmpty()) {
            s.click("Option2");
            s.win->tabStrip()->setCurrentIndex(int(Tab::Polling));
        } else {
            if (button == "Command17")
                s.at<QLineEdit>("Text5")->setText(QStringLiteral("9"));
            s.click(button.constData());
        }
        QTest::qWait(300);
        QVERIFY(!s.channelsClosed());
        QCOMPARE(sim.stop(SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.messages.errors.size(), 1, 5000);
        s.checkAtRest(
            QStringLiteral("COM 1 (%1) is no longer available; %2").arg(sim.linkPath(module), says),
            ready.constData());
        QVERIFY(!test::holdsFileUnder(dir_.path()));
    }

    // The chosen file is deleted or emptied between Open and Send. Text goes
    // out as the box shows it (read whole at Open); an image, read at Send,
    // is refused before the port is touched.
    void fileChangedBeforeSend_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("text deleted") << QByteArray("Command4") << false;
        QTest::newRow("image deleted") << QByteArray("Command8") << false;
        QTest::newRow("image emptied") << QByteArray("Command8") << true;
    }
    void fileChangedBeforeSend() {
        QFETCH(QByteArray, button);
        QFETCH(bool, emptied);
        test::Pty pty;
        Station s(pty.stationPath());
        const QString path = prepare(s, button);
        QVERIFY(emptied ? QFile::resize(path, 0) : QFile::remove(path));
        s.click(button.constData());
        if (button == "Command4") {
            QCOMPARE(pty.receive(12, 3000), QByteArray("\0one\r\n\0two\r\n", 12));
            QTRY_VERIFY(s.channelsClosed());
            QVERIFY(s.messages.errors.isEmpty());
        } else {
            s.checkAtRest(QFileInfo(path).fileName(), button.constData());
            QCOMPARE(pty.receive(0, 300), QByteArray());
        }
        QVERIFY(!test::holdsFileUnder(dir_.path()));
    }

    // A picture, then a file that is no picture: Send image follows the file
    // chosen last, so it is offered no more and the picture before goes from
    // the preview; nothing is sent. Choosing a picture again offers it.
    void sendFollowsTheFileChosen() {
        test::Pty pty;
        Station s(pty.stationPath());
        const QString picture = prepare(s, "Command8");
        QVERIFY(s.at("Command8")->isEnabled());
        const QString other = test::writeFile(dir_, QStringLiteral("notes.jpg"), "no picture\n");
        s.win->setFileChooser([other](const QString&, const QString&) { return other; });
        s.click("Command7");
        QVERIFY(s.at<QLabel>("Image2")->pixmap().isNull());
        s.checkAtRest(QStringLiteral("%1 is not a picture").arg(other), "Command7");
        QVERIFY(!s.at("Command8")->isEnabled());
        s.click("Command8");
        QCOMPARE(pty.receive(1, 300), QByteArray());
        s.choose("Command7", picture, "Command8");
        QVERIFY(!s.at<QLabel>("Image2")->pixmap().isNull());
        QCOMPARE(s.messages.errors.size(), 1);
    }

    // Receive when the temporary folder cannot be written, when others may
    // write in it (and so plant a link at a fixed name, sticky bit or not),
    // or when a link points where the stripped picture goes: the file it
    // points at stays as it was, and Receive works once the folder is usable.
    void temporaryFilesUnusable_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("says");
        QTest::newRow("folder not writable") << "/proc/1"
                                             << "/proc/1";
        QTest::newRow("folder like /tmp") << "shared:1777"
                                          << "other users can write in it";
        QTest::newRow("folder writable by its group") << "shared:770"
                                                      << "other users can write in it";
        QTest::newRow("link planted") << "tempkelto250881.bmp"
                                      << "symbolic link";
    }
    void temporaryFilesUnusable() {
        QFETCH(QString, setup);
        QFETCH(QString, says);
        const QString victim = test::writeFile(dir_, QStringLiteral("victim"), "keep me");
        const bool folder = setup.startsWith(QLatin1Char('/')) || setup.startsWith("shared:");
        if (setup.startsWith("shared:")) {
            const QString shared = dir_.filePath(QStringLiteral("shared"));
            QVERIFY(QDir().mkpath(shared));
            QVERIFY(::chmod(QFile::encodeName(shared).constData(),
                            mode_t(setup.section(':', 1).toUInt(nullptr, 8))) == 0);
            qputenv("RAVA2_TEMP_DIR", QFile::encodeName(shared));
        } else if (folder) {
            qputenv("RAVA2_TEMP_DIR", QFile::encodeName(setup));
        } else {
            QVERIFY(QFile::link(victim, temp_.filePath(setup)));
        }
        test::Pty pty;
        Station s(pty.stationPath());
        s.click("Command12");
        s.checkAtRest(says, "Command12");
        QVERIFY(!test::holdsFileUnder(temp_.path()) && !test::holdsFileUnder(dir_.path()));
        QFile f(victim);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp_.path()));
        if (!folder)
            QFile::remove(temp_.filePath(setup));
        s.click("Command12");
        QVERIFY(s.win->link().imageChannel().isOpen());
    }

    // A 5,000-byte line goes from a master window to a slave window whole,
    // and is shown once, complete; both come to rest.
    void fiveThousandByteLine() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("S")).toLocal8Bit());
        Station master(sim.linkPath(QStringLiteral("M")));
        Station slave(sim.linkPath(QStringLiteral("M")));
        slave.at("Combo1")->setProperty("currentIndex", 1); // COM 2
        slave.click("Option2");
        master.win->settings().setRemoteAddress(7);
        QByteArray line;
        for (int i = 0; i < 5000; ++i)
            line.append(i % 97 == 96 ? char(0xC0 + i % 64) : char(0x21 + i % 94));
        const QString path =
            test::writeFile(dir_, QStringLiteral("long.txt"), "first\r\n" + line + "\r\nlast\r\n");
        master.choose("Command3", path, "Command4");
        slave.click("Command6");
        master.click("Command4");
        QTRY_COMPARE_WITH_TIMEOUT(slave.at<QPlainTextEdit>("Text2")->toPlainText(),
                                  "first\n" + QString::fromLatin1(line) + "\nlast", 10000);
        QTRY_VERIFY_WITH_TIMEOUT(master.channelsClosed() && slave.channelsClosed(), 5000);
        QVERIFY(master.messages.errors.isEmpty() && slave.messages.errors.isEmpty());
    }

    // Garbage where an image header belongs: half a second after the line
    // goes quiet the station says to check the settings. A sender that does
    // not stop (blanks past the longest header, data past the announced
    // size and a block more) is cut off at once with a word of its own.
    // Each ends with the station at rest. `writes`: the master's writes to
    // address 7, split at '|'.
    void garbageInsteadOfHeader_data() {
        QTest::addColumn<QByteArray>("writes");
        QTest::addColumn<QString>("says");
        QTest::newRow("a JPEG's first bytes")
            << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10) << "Check the settings!";
        QTest::newRow("blanks that do not end")
            << QByteArray(40, ' ') << "longer than any image header";
        QTest::newRow("more than announced") << " 100|" + QByteArray(90, 'x').repeated(3)
                                             << "more came than the 100 bytes announced";
    }
    void garbageInsteadOfHeader() {
        QFETCH(QByteArray, writes);
        QFETCH(QString, says);
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("S")).toLocal8Bit());
        Station s(sim.linkPath(QStringLiteral("M")));
        s.at("Combo1")->setProperty("currentIndex", 1); // COM 2
        s.click("Option2");
        s.click("Command12");
        auto master = test::openStation(3, sim.linkPath(QStringLiteral("M")));
        QVERIFY(master && sim.waitStations({"M", "S"}));
        for (const QByteArray& write : writes.split('|')) {
            QVERIFY(master->write('\x07' + write));
            QTest::qWait(50);
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.at("Command12")->isEnabled(), 5000);
        s.checkAtRest(says, "Command12");
        QCOMPARE(s.text("Label15"), QStringLiteral("Image Size:"));
    }
};

QTEST_MAIN(FailurePathsTest)
#include "test_failure_paths.moc"
