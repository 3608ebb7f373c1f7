// Image transfer when something outside the tool goes wrong, through whole
// windows and real channels: no device, a device held by the polling cycle,
// an empty image, a temporary folder that cannot be used, a symbolic link
// planted where a temporary file goes, garbage instead of a header. Each
// ends with one clear message, the tab usable again, every channel closed
// and nothing written where it should not be.
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "sim/sim_process.h"
#include "support/pty.h"
#include "support/recording.h"
#include "window_station.h"

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

using namespace rava;
using rava::test::SimProcess;

namespace {

const QString kCheckSettings = QStringLiteral(
    "Check the settings! You may have set different baud rate speed for the transmitter and "
    "the receiver!");

struct Station : test::WindowStation {
    using WindowStation::WindowStation;
    void choose(const QString& path) {
        win->setFileChooser([path](const QString&, const QString&) { return path; });
        click("Command7");
    }
    // The message, and both image tabs at rest.
    void checkAtRest(const QString& says) const {
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY2(messages.errors.first().contains(says), qPrintable(messages.errors.first()));
        QVERIFY(allTabsEnabled());
        QVERIFY(channelsClosed());
        QVERIFY(at("Command7")->isEnabled());
        QVERIFY(at("Command11")->isEnabled());
        QVERIFY(text("Label12").startsWith(QLatin1String("Press the Open button")));
        QVERIFY(at("Command12")->isEnabled());
        QVERIFY(!at("Command13")->isEnabled());
        QVERIFY(text("Label13").startsWith(QLatin1String("Press the Receive button")));
    }
};

} // namespace

class ImageFailurePathsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QTemporaryDir temp_; // the private temporary folder of the receptions

    QString picture() {
        QImage image(24, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir_.filePath(QStringLiteral("small.bmp"));
        image.save(path, "BMP");
        return path;
    }
    QString tempFile(const char* name) const { return temp_.filePath(QLatin1String(name)); }

private slots:
    void init() { qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp_.path())); }
    void cleanup() {
        qunsetenv("RAVA2_COM1");
        qunsetenv("RAVA2_COM2");
        QFile::remove(tempFile("tempkelto100275.bmp"));
        QFile::remove(tempFile("tempkelto250881.bmp"));
    }

    // Send image and Receive on a missing device, and on one the master's
    // polling cycle holds.
    void imageChannelUnavailable_data() {
        QTest::addColumn<bool>("send");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("says");
        QTest::newRow("send, no device") << true << false << "/nonexistent/rava-com1";
        QTest::newRow("receive, no device") << false << false << "/nonexistent/rava-com1";
        QTest::newRow("send, polling holds it") << true << true << "in use by the polling channel";
        QTest::newRow("receive, polling holds it")
            << false << true << "in use by the polling channel";
    }
    void imageChannelUnavailable() {
        QFETCH(bool, send);
        QFETCH(bool, held);
        QFETCH(QString, says);
        test::Pty pty;
        QVERIFY(pty.valid());
        Station s(held ? pty.stationPath() : QStringLiteral("/nonexistent/rava-com1"));
        if (held) {
            qobject_cast<QCheckBox*>(s.at("Check1_1"))->setChecked(true);
            qobject_cast<QLineEdit*>(s.at("Text4_1"))->setText(QStringLiteral("5"));
            s.click("Command15");
            QCOMPARE(pty.receive(1, 3000), QByteArray("\x05"));
        }
        if (send) {
            s.choose(picture());
            QVERIFY(s.at("Command8")->isEnabled());
            s.click("Command8");
            QVERIFY(s.at("Command8")->isEnabled()); // the picture can go once the port is free
        } else {
            s.click("Command12");
        }
        if (held) {
            QVERIFY(s.win->link().pollingChannel().isOpen());
            s.click("Command20");
        }
        s.checkAtRest(says);
        QVERIFY(s.messages.errors.first().contains(QLatin1String("COM 1")));
    }

    // An empty file chosen after a picture: Send image is still enabled by
    // the picture, and refuses the empty file before the port is touched.
    void emptyImage() {
        test::Pty pty;
        Station s(pty.stationPath());
        s.choose(picture());
        const QString empty = test::writeFile(dir_, QStringLiteral("empty.bmp"), QByteArray());
        s.choose(empty);
        QVERIFY(s.at("Command8")->isEnabled());
        s.click("Command8");
        s.checkAtRest(QStringLiteral("empty.bmp"));
        QCOMPARE(pty.receive(0, 300), QByteArray());
    }

    // Receive when the temporary folder or its files cannot be used.
    void temporaryFilesUnusable_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("says");
        QTest::newRow("folder cannot be made") << "missing"
                                               << "/proc/rava2-temp";
        QTest::newRow("folder not writable") << "unwritable"
                                             << "/proc/1";
        QTest::newRow("a file in the folder's place") << "file"
                                                      << "not a folder";
        QTest::newRow("folder is a symbolic link") << "dirlink"
                                                   << "symbolic link";
        QTest::newRow("link planted as the received-data file") << "link100275"
                                                                << "symbolic link";
        QTest::newRow("link planted as the stripped file") << "link250881"
                                                           << "symbolic link";
    }
    void temporaryFilesUnusable() {
        QFETCH(QString, setup);
        QFETCH(QString, says);
        const QString victim = test::writeFile(dir_, QStringLiteral("victim"), "keep me");
        if (setup == "missing")
            qputenv("RAVA2_TEMP_DIR", "/proc/rava2-temp/x");
        else if (setup == "unwritable")
            qputenv("RAVA2_TEMP_DIR", "/proc/1");
        else if (setup == "file")
            qputenv("RAVA2_TEMP_DIR", QFile::encodeName(victim));
        else if (setup == "dirlink") {
            const QString link = dir_.filePath(QStringLiteral("templink"));
            QFile::remove(link);
            QVERIFY(QFile::link(temp_.path(), link));
            qputenv("RAVA2_TEMP_DIR", QFile::encodeName(link));
        } else {
            const char* name =
                setup == "link100275" ? "tempkelto100275.bmp" : "tempkelto250881.bmp";
            QVERIFY(QFile::link(victim, tempFile(name)));
        }
        test::Pty pty;
        Station s(pty.stationPath());
        s.click("Command12");
        s.checkAtRest(says);
        // The file a planted link points at is left as it was.
        QFile f(victim);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
        // With the folder usable again, Receive works.
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp_.path()));
        QFile::remove(tempFile("tempkelto100275.bmp"));
        QFile::remove(tempFile("tempkelto250881.bmp"));
        s.click("Command12");
        QVERIFY(s.win->link().imageChannel().isOpen());
        s.click("Command13");
        QVERIFY(s.channelsClosed());
        QCOMPARE(s.messages.errors.size(), 1);
    }

    // Garbage where the header belongs: the station says to check the
    // settings half a second after the line goes quiet, and is at rest.
    void garbageInsteadOfHeader_data() {
        QTest::addColumn<QByteArray>("garbage");
        QTest::newRow("binary") << QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
        QTest::newRow("digits without a blank") << QByteArray("12345");
        QTest::newRow("a blank and a zero") << QByteArray(" 0");
        QTest::newRow("absurd size") << QByteArray(" 99999999999999999999");
    }
    void garbageInsteadOfHeader() {
        QFETCH(QByteArray, garbage);
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("S")).toLocal8Bit());
        Station s(sim.linkPath(QStringLiteral("M")));
        s.at("Combo1")->setProperty("currentIndex", 1); // COM 2
        QTest::mouseClick(s.at("Option2"), Qt::LeftButton);
        s.click("Command12");
        QVERIFY(s.win->link().imageChannel().isOpen());
        auto master = test::openStation(3, sim.linkPath(QStringLiteral("M")));
        QVERIFY(master);
        QVERIFY(sim.waitStations({"M", "S"}));
        QVERIFY(master->write('\x07' + garbage));
        QTRY_VERIFY_WITH_TIMEOUT(s.at("Command12")->isEnabled(), 5000);
        s.checkAtRest(kCheckSettings);
        QCOMPARE(s.text("Label15"), QStringLiteral("Image Size:"));
        QVERIFY(qobject_cast<QLabel*>(s.at("Image3"))->pixmap().isNull());
    }
};

QTEST_MAIN(ImageFailurePathsTest)
#include "test_image_failure_paths.moc"
