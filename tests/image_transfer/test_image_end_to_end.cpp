// Pictures between two whole windows joined by the module simulator: a
// master sends a JPEG to a slave, a slave sends a GIF to a master, at 115200
// and 9600 baud; and a receiver on the wrong baud rate is told to check the
// settings.
#include "image_transfer/image_stream.h"
#include "image_transfer/temp_files.h"
#include "link/line_settings.h"
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
    for (int quality = 95; quality >= 5; --quality) {
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

// The packets of the simulator's trace that are neither a header nor a
// whole block: where the relay joined or split writes.
QString oddPackets(const SimProcess& sim, qint64 size) {
    QStringList odd;
    const QStringList lines = sim.trace();
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.size() < 5)
            continue;
        const int n = f[3].toInt();
        if (n != 90 && n != 91 && n != size % 90 && n != size % 90 + 1 && n > 12)
            odd << line.left(60);
    }
    return QStringLiteral("%1 trace lines, odd packets: %2")
        .arg(lines.size())
        .arg(odd.isEmpty() ? QStringLiteral("none") : odd.join(QLatin1String("; ")));
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

    // One picture from one window to the other through a fresh simulator.
    // Returns what went wrong, empty when nothing did; `joined` tells that
    // the relay took two writes for one packet (a simulator starved of the
    // processor for longer than a block gap), which no station can undo.
    QString crossOnce(bool masterSends, int setting, const QByteArray& bytes, const char* name,
                      bool* joined) {
        messages_.errors.clear();
        const QString baud = QString::fromLatin1(kLineSettings[size_t(setting)].settings)
                                 .section(QLatin1Char(','), 0, 0);
        SimProcess sim({"--baud", baud, "master=master:0", "slave=slave:7"});
        if (!sim.start())
            return QStringLiteral("the simulator did not start");
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages_);
        slaveWin.setMessenger(&messages_);
        setUp(masterWin, 1, true, setting);
        setUp(slaveWin, 2, false, setting);
        MainWindow& from = masterSends ? masterWin : slaveWin;
        MainWindow& to = masterSends ? slaveWin : masterWin;
        const QString path = test::writeFile(dir_, QLatin1String(name), bytes);
        from.setFileChooser([path](const QString&, const QString&) { return path; });
        click(to, "Command12");
        click(from, "Command7");
        if (!showsPicture(from, "Image2") || !at(from, "Command8")->isEnabled())
            return QStringLiteral("Open... did not take the picture");
        click(from, "Command8");
        if (at(from, "Command8")->isEnabled() || at(from, "Command7")->isEnabled())
            return QStringLiteral("the send tab stayed usable during the send");
        if (!QTest::qWaitFor([&] { return at(to, "Command12")->isEnabled(); }, 60000))
            return QStringLiteral("the reception did not end");
        // A master keeps the stripped file; a slave's file has no addresses.
        const QByteArray got =
            readAll(temp_.filePath(masterSends ? image::kReceivedName : image::kStrippedName));
        *joined = oddPackets(sim, bytes.size()) != QLatin1String("none");
        if (got != bytes)
            return QStringLiteral("received %1 bytes, not the %2 sent; %3")
                .arg(got.size())
                .arg(bytes.size())
                .arg(oddPackets(sim, bytes.size()));
        if (!messages_.errors.isEmpty())
            return messages_.errors.join(QLatin1Char('\n'));
        if (!showsPicture(to, "Image3"))
            return QStringLiteral("no picture shown");
        const QString sender = at(to, "Text9")->property("text").toString();
        if (sender != QLatin1String(masterSends ? "0" : "7"))
            return QStringLiteral("sender shown as ") + sender;
        if (at(to, "Label15")->property("text").toString() != image::sizeText(bytes.size()) ||
            !at(to, "Label14")->property("text").toString().endsWith(QLatin1String(" bps")))
            return QStringLiteral("statistics: ") + at(to, "Label15")->property("text").toString();
        // The sender is done and has let the port go.
        if (!QTest::qWaitFor([&] { return at(from, "Command8")->isEnabled(); }, 5000) ||
            from.link().imageChannel().isOpen())
            return QStringLiteral("the sender did not end");
        return QString();
    }

    // A master sends a JPEG to a slave, a slave sends a GIF to a master.
    void pictureCrosses_data() {
        QTest::addColumn<bool>("masterSends");
        QTest::addColumn<int>("setting");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray big = jpeg(750, 600, 30000);
        const QByteArray small = jpeg(200, 160, 8000);
        QTest::newRow("JPEG master to slave, 115200") << true << 9 << big;
        QTest::newRow("JPEG master to slave, 9600") << true << 0 << small;
        QTest::newRow("GIF slave to master, 115200") << false << 9 << gif(140, 140);
        QTest::newRow("GIF slave to master, 9600") << false << 0 << gif(56, 56);
    }
    void pictureCrosses() {
        QFETCH(bool, masterSends);
        QFETCH(int, setting);
        QFETCH(QByteArray, bytes);
        QVERIFY(!QImage::fromData(bytes).isNull());
        const char* name = bytes.startsWith("GIF") ? "picture.gif" : "picture.jpg";
        for (int attempt = 1;; ++attempt) {
            bool joined = false;
            const QString why = crossOnce(masterSends, setting, bytes, name, &joined);
            if (why.isEmpty())
                break;
            QVERIFY2(joined && attempt < 3, qPrintable(why));
            qWarning("The relay joined two writes into one packet (%s); once more.",
                     qPrintable(why));
        }
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
