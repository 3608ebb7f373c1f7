// Pictures between two whole windows joined by the module simulator: a
// master sends a JPEG to a slave, a slave sends a GIF to a master, at 115200
// and 9600 baud; and a receiver on the wrong baud rate is told to check the
// settings.
#include "image_transfer/image_stream.h"
#include "image_transfer/temp_files.h"
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace rava;
using rava::test::SimProcess;

namespace {

QImage scene(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x * 255) / w, (y * 255) / h, int(noise.bounded(64)) + 96));
    return img;
}

// A JPEG of about `target` bytes.
QByteArray jpeg(int w, int h, int target) {
    const QImage img = scene(w, h);
    QByteArray bytes;
    for (int quality = 95; quality >= 5; quality -= 5) {
        bytes.clear();
        QBuffer buf(&bytes);
        buf.open(QIODevice::WriteOnly);
        img.save(&buf, "JPG", quality);
        if (bytes.size() <= target)
            break;
    }
    return bytes;
}

// A GIF written by hand (Qt reads GIF but does not write it): 128 colours,
// LZW with 8-bit codes kept from growing by a clear code every 100 pixels,
// so that every code is one byte.
QByteArray gif(int w, int h) {
    QByteArray out("GIF89a");
    auto le16 = [&out](int v) {
        out.append(char(v & 0xFF));
        out.append(char((v >> 8) & 0xFF));
    };
    le16(w);
    le16(h);
    out.append(char(0xF6)); // global colour table of 2^(6+1) = 128 entries
    out.append('\0');       // background colour
    out.append('\0');       // aspect ratio
    for (int i = 0; i < 128; ++i) {
        out.append(char(i * 2));
        out.append(char(255 - i * 2));
        out.append(char((i * 37) & 0xFF));
    }
    out.append(',');
    le16(0);
    le16(0);
    le16(w);
    le16(h);
    out.append('\0');    // no local table, not interlaced
    out.append(char(7)); // minimum code size: codes of 8 bits
    QByteArray codes;
    for (int i = 0; i < w * h; ++i) {
        if (i % 100 == 0)
            codes.append(char(0x80)); // clear
        const int x = i % w, y = i / w;
        codes.append(char(((x / 4) + (y / 4) * 3) % 128));
    }
    codes.append(char(0x81)); // end of information
    for (qsizetype at = 0; at < codes.size(); at += 255) {
        const QByteArray part = codes.mid(at, 255);
        out.append(char(part.size()));
        out.append(part);
    }
    out.append('\0'); // block terminator
    out.append(';');  // trailer
    return out;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

} // namespace

class ImageEndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QTemporaryDir temp_;
    test::RecordingMessenger messages_;

    static QWidget* at(MainWindow& win, const char* name) {
        return win.findChild<QWidget*>(QLatin1String(name));
    }
    static void click(MainWindow& win, const char* name) {
        QTest::mouseClick(at(win, name), Qt::LeftButton);
    }
    static void setUp(MainWindow& win, int port, bool master, int lineSetting) {
        qobject_cast<QComboBox*>(at(win, "Combo1"))->setCurrentIndex(port - 1);
        qobject_cast<QComboBox*>(at(win, "Combo2"))->setCurrentIndex(lineSetting);
        if (master)
            qobject_cast<QLineEdit*>(at(win, "Text12"))->setText(QStringLiteral("7"));
        else
            click(win, "Option2");
    }
    static bool showsPicture(MainWindow& win, const char* name) {
        return !qobject_cast<QLabel*>(at(win, name))->pixmap().isNull();
    }

    // `from` sends `bytes` as a picture file to `to`, which receives it.
    void transfer(MainWindow& from, MainWindow& to, const QByteArray& bytes, const char* name) {
        const QString path = test::writeFile(dir_, QLatin1String(name), bytes);
        from.setFileChooser([path](const QString&, const QString&) { return path; });
        click(to, "Command12");
        click(from, "Command7");
        QVERIFY(showsPicture(from, "Image2"));
        QVERIFY(at(from, "Command8")->isEnabled());
        click(from, "Command8");
        QVERIFY(!at(from, "Command8")->isEnabled());
    }

private slots:
    void initTestCase() {
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp_.path()));
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    }
    void init() { messages_.errors.clear(); }

    void masterSendsJpegToSlave_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("size");
        QTest::newRow("115200") << 9 << 30000;
        QTest::newRow("9600") << 0 << 8000;
    }
    void masterSendsJpegToSlave() {
        QFETCH(int, setting);
        QFETCH(int, size);
        SimProcess sim({"--baud", QTest::currentDataTag(), "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        setUp(masterWin, 1, true, setting);
        setUp(slaveWin, 2, false, setting);
        const QByteArray bytes = jpeg(size / 40, size / 50, size);
        QVERIFY2(bytes.size() > size * 2 / 3, qPrintable(QString::number(bytes.size())));
        transfer(masterWin, slaveWin, bytes, "picture.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(at(slaveWin, "Command12")->isEnabled(), 60000);
        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join('\n')));
        QVERIFY(showsPicture(slaveWin, "Image3"));
        QCOMPARE(readAll(temp_.filePath(image::kReceivedName)), bytes);
        QCOMPARE(at(slaveWin, "Text9")->property("text").toString(), QStringLiteral("0"));
        QCOMPARE(at(slaveWin, "Label15")->property("text").toString(),
                 image::sizeText(bytes.size()));
        QVERIFY(at(slaveWin, "Label14")->property("text").toString().endsWith(" bps"));
        // The sender is done and has let the port go.
        QTRY_VERIFY(at(masterWin, "Command8")->isEnabled());
        QVERIFY(!masterWin.link().imageChannel().isOpen());
    }

    void slaveSendsGifToMaster_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("side");
        QTest::newRow("115200") << 9 << 140;
        QTest::newRow("9600") << 0 << 56;
    }
    void slaveSendsGifToMaster() {
        QFETCH(int, setting);
        QFETCH(int, side);
        SimProcess sim({"--baud", QTest::currentDataTag(), "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        setUp(masterWin, 1, true, setting);
        setUp(slaveWin, 2, false, setting);
        const QByteArray bytes = gif(side, side);
        QVERIFY(!QImage::fromData(bytes, "GIF").isNull());
        transfer(slaveWin, masterWin, bytes, "picture.gif");
        QTRY_VERIFY_WITH_TIMEOUT(at(masterWin, "Command12")->isEnabled(), 60000);
        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join('\n')));
        QVERIFY(showsPicture(masterWin, "Image3"));
        QCOMPARE(readAll(temp_.filePath(image::kStrippedName)), bytes);
        QCOMPARE(at(masterWin, "Text9")->property("text").toString(), QStringLiteral("7"));
        QCOMPARE(at(masterWin, "Label15")->property("text").toString(),
                 image::sizeText(bytes.size()));
    }

    // The master listens at 9600 while its module runs at 115200.
    void baudMismatch() {
        SimProcess sim({"--baud", "115200", "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        setUp(masterWin, 1, true, 0);
        setUp(slaveWin, 2, false, 9);
        transfer(slaveWin, masterWin, gif(40, 40), "small.gif");
        QTRY_VERIFY_WITH_TIMEOUT(at(masterWin, "Command12")->isEnabled(), 20000);
        QCOMPARE(messages_.errors,
                 QStringList(QStringLiteral(
                     "Check the settings! You may have set different baud rate speed for the "
                     "transmitter and the receiver!")));
        QVERIFY(!showsPicture(masterWin, "Image3"));
        QCOMPARE(at(masterWin, "Label15")->property("text").toString(),
                 QStringLiteral("Image Size:"));
        QTRY_VERIFY_WITH_TIMEOUT(at(slaveWin, "Command8")->isEnabled(), 20000);
    }

    // The device goes away in the middle: both stations stop, say so, and
    // are usable again.
    void simulatorStops() {
        SimProcess sim({"--baud", "115200", "master=master:0", "slave=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        setUp(masterWin, 1, true, 9);
        setUp(slaveWin, 2, false, 9);
        transfer(masterWin, slaveWin, jpeg(500, 400, 30000), "big.jpg");
        QTest::qWait(1000);
        QVERIFY(!at(masterWin, "Command8")->isEnabled());
        QVERIFY(!at(slaveWin, "Command12")->isEnabled());
        QCOMPARE(sim.stop(SIGTERM), 0);
        QTRY_VERIFY_WITH_TIMEOUT(at(masterWin, "Command8")->isEnabled(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(at(slaveWin, "Command12")->isEnabled(), 5000);
        QCOMPARE(messages_.errors.size(), 2);
        QVERIFY2(messages_.errors.filter("The send stopped: COM 1").size() == 1,
                 qPrintable(messages_.errors.join('\n')));
        QVERIFY2(messages_.errors.filter("The reception stopped: COM 2").size() == 1,
                 qPrintable(messages_.errors.join('\n')));
        QVERIFY(!masterWin.link().imageChannel().isOpen());
        QVERIFY(!slaveWin.link().imageChannel().isOpen());
        QVERIFY(at(masterWin, "SSTab1")->isEnabled());
        QVERIFY(!at(slaveWin, "Command13")->isEnabled());
    }
};

QTEST_MAIN(ImageEndToEndTest)
#include "test_image_end_to_end.moc"
