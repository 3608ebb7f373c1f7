// Image transfer logic: the stream a send writes and its timing, header
// reading, address stripping, the length check and the statistics, the
// private temporary files, the sender and receiver on an in-memory channel,
// and the pages on the controls of the two image tabs.
#include "image_transfer/image_pages.h"
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "image_transfer/temp_files.h"
#include "link/messenger.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace rava;
using namespace rava::image;

namespace {

// A fake channel that also notes when each write was handed over (ns).
class TimedChannel : public test::FakeChannel {
public:
    TimedChannel() { clock.start(); }
    bool write(const QByteArray& bytes) override {
        at.append(clock.nsecsElapsed());
        return FakeChannel::write(bytes);
    }
    QElapsedTimer clock;
    QList<qint64> at;
};

constexpr qint64 kMs = 1000000;
constexpr int kGap = 10;    // injected block gap
constexpr int kLast = 60;   // injected last-block delay
constexpr int kEndMs = 120; // injected end-of-reception silence

QByteArray pattern(qint64 size, int seed = 0) {
    QByteArray b(qsizetype(size), Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[qsizetype(i)] = char((i * 7 + seed + i / 251) & 0xFF);
    return b;
}

QByteArray picture(const char* format, int w = 40, int h = 30) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 6, y * 8, (x * y) & 0xFF));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return bytes;
}

// A master's data phase for `data`: address byte `from` before every block.
QByteArray packets(const QByteArray& data, char from) {
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); i += 90)
        out += from + data.mid(i, 90);
    return out;
}

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().toHex()) : "missing";
}

} // namespace

Q_DECLARE_METATYPE(rava::image::Header::Status)

class ImageTransferTest : public QObject, public Messenger {
    Q_OBJECT

    QTemporaryDir dir_;     // files to send
    QTemporaryDir tempDir_; // RAVA2_TEMP_DIR
    std::unique_ptr<TimedChannel> ch_;
    std::unique_ptr<ImageSender> sender_;
    std::unique_ptr<ImageReceiver> rx_;
    std::unique_ptr<QWidget> form_;
    std::unique_ptr<ImagePages> pages_;
    StationSettings settings_;
    QStringList log_;  // signals, messages and tab locks, in order
    QString error_;    // the last failure signalled
    Reception result_; // the last reception's end
    QString chosen_;   // what the file dialog returns

    void error(const QString& text) override { log_.append("box:" + text); }
    void warning(const QString& text) override { log_.append("warning:" + text); }
    void info(const QString&, const QString&) override {}

    QString file(const QByteArray& bytes, const char* name = "image.bin") {
        return test::writeFile(dir_, QLatin1String(name), bytes);
    }
    QString log() const { return log_.join(QLatin1Char(' ')); }
    QString temp(const char* name) const { return tempDir_.filePath(QLatin1String(name)); }
    OneShot* timer4() const { return rx_->findChild<OneShot*>(QStringLiteral("Timer4")); }
    template <typename T> void watch(T* t) {
        connect(t, &T::busyChanged, this, [this](bool on) { log_.append(on ? "busy" : "idle"); });
        connect(t, &T::failed, this, [this](auto, const QString& detail) {
            log_.append("failed");
            error_ = detail;
        });
    }
    template <typename T = QWidget> T* w(const char* name) {
        return form_->findChild<T*>(QLatin1String(name));
    }
    QString text(const char* name) { return w(name)->property("text").toString(); }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    bool hasPicture(const char* name) { return !w<QLabel>(name)->pixmap().isNull(); }

    // What the channel got: the header in hex, then per block the address
    // byte in hex and the data length ("07:90"), or the length alone.
    QString writes(bool master) const {
        QStringList each;
        for (int i = 0; i < ch_->writes.size(); ++i) {
            const QByteArray& wr = ch_->writes[i];
            if (i == 0)
                each << QString::fromLatin1(wr.toHex());
            else if (master)
                each << QStringLiteral("%1:%2")
                            .arg(QString::fromLatin1(wr.left(1).toHex()))
                            .arg(wr.size() - 1);
            else
                each << QString::number(wr.size());
        }
        return each.join(QLatin1Char('|'));
    }

    void buildPages() {
        form_ = std::make_unique<QWidget>();
        auto add = [](QWidget* c, const char* name) { c->setObjectName(QLatin1String(name)); };
        for (const char* name :
             {"Command7", "Command8", "Command11", "Command12", "Command13", "Command14"})
            add(new QPushButton(form_.get()), name);
        w("Command8")->setEnabled(false);
        w("Command13")->setEnabled(false);
        for (const char* name : {"Image2", "Image3"})
            add(new QLabel(form_.get()), name);
        add(new QLabel(QStringLiteral("Press the Open button to select the image..."), form_.get()),
            "Label12");
        add(new QLabel(QStringLiteral("Press the Receive button to download..."), form_.get()),
            "Label13");
        add(new QLabel(QStringLiteral("Image Size:"), form_.get()), "Label15");
        add(new QLabel(QStringLiteral("Time:"), form_.get()), "Label11");
        add(new QLabel(QStringLiteral("Baud Rate:"), form_.get()), "Label14");
        w("Image2")->resize(60, 60);
        w("Image3")->resize(60, 60);
        add(new QProgressBar(form_.get()), "ProgressBar1");
        add(new QProgressBar(form_.get()), "ProgressBar2");
        add(new QLineEdit(form_.get()), "Text9");
        StationContext ctx;
        ctx.settings = &settings_;
        ctx.messenger = this;
        ctx.lockTabs = [this](Tab keep, bool on) {
            log_.append(QStringLiteral("%1:%2").arg(on ? "lock" : "unlock").arg(int(keep)));
        };
        ctx.chooseFile = [this](const QString& title, const QString& filter) {
            log_.append(title + QLatin1Char('|') + filter);
            return chosen_;
        };
        pages_ = std::make_unique<ImagePages>(ctx, form_.get(), *ch_);
        pages_->sender().setTimings(ImageSender::Timings{kGap, kLast});
        pages_->receiver().setEndOfReception(kEndMs);
    }

    // Receive, then the batches, then the end of reception.
    Reception receiveBatches(const QList<QByteArray>& batches) {
        log_.clear();
        if (!rx_->receive())
            return {};
        for (const QByteArray& b : batches)
            ch_->inject(b);
        if (!QTest::qWaitFor([this] { return log_.contains("end"); }, 5000))
            return {};
        return result_;
    }

private slots:
    void initTestCase() {
        qRegisterMetaType<Header::Status>();
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(tempDir_.path()));
    }

    void init() {
        ch_ = std::make_unique<TimedChannel>();
        settings_.setMode(Mode::Slave);
        settings_.setRemoteAddress(0);
        settings_.setLineSetting(9);
        log_.clear();
        error_.clear();
        sender_ = std::make_unique<ImageSender>(*ch_, settings_);
        sender_->setTimings(ImageSender::Timings{kGap, kLast});
        rx_ = std::make_unique<ImageReceiver>(*ch_, settings_);
        rx_->setEndOfReception(kEndMs);
        watch(sender_.get());
        watch(rx_.get());
        connect(sender_.get(), &ImageSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
        connect(rx_.get(), &ImageReceiver::finished, this, [this](const Reception& r) {
            result_ = r;
            log_.append("end");
        });
    }
    void cleanup() {
        pages_.reset();
        form_.reset();
        sender_.reset();
        rx_.reset();
    }

    // The header and blocks of a send, and the waits between the writes:
    // g = block gap, L = block gap and last-block delay.
    void sendStream_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("waits");
        QTest::newRow("1 slave") << 1 << -1 << "2031|1"
                                 << "L";
        QTest::newRow("1 master 0") << 1 << 0 << "002031|00:1"
                                    << "L";
        QTest::newRow("89 slave") << 89 << -1 << "203839|89"
                                  << "L";
        QTest::newRow("89 master 200") << 89 << 200 << "c8203839|c8:89"
                                       << "L";
        QTest::newRow("90 slave") << 90 << -1 << "203930|90"
                                  << "L";
        QTest::newRow("90 master 7") << 90 << 7 << "07203930|07:90"
                                     << "L";
        QTest::newRow("91 slave") << 91 << -1 << "203931|90|1"
                                  << "g L";
        QTest::newRow("91 master 7") << 91 << 7 << "07203931|07:90|07:1"
                                     << "g L";
        QTest::newRow("180 slave") << 180 << -1 << "20313830|90|90"
                                   << "g L";
        QTest::newRow("180 master 32") << 180 << 32 << "2020313830|20:90|20:90"
                                       << "g L";
        QTest::newRow("350 slave") << 350 << -1 << "20333530|90|90|90|80"
                                   << "g g g L";
        QTest::newRow("350 master 7") << 350 << 7 << "0720333530|07:90|07:90|07:90|07:80"
                                      << "g g g L";
    }
    void sendStream() {
        QFETCH(int, size);
        QFETCH(int, address);
        QFETCH(QString, expected);
        QFETCH(QString, waits);
        const bool master = address >= 0;
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        const QByteArray bytes = pattern(size, address);
        QVERIFY(sender_->send(file(bytes)));
        QTRY_COMPARE(log(), QStringLiteral("busy idle done"));
        QCOMPARE(writes(master), expected);
        QByteArray data;
        for (int i = 1; i < ch_->writes.size(); ++i)
            data += ch_->writes[i].mid(master ? 1 : 0);
        QCOMPARE(data, bytes);
        QCOMPARE(sender_->sentCount(), qint64(size));
        QCOMPARE(QList<int>({ch_->opens, ch_->closes, ch_->outputDiscards}), QList<int>({1, 1, 1}));
        // Never short; a plain gap well below gap + delay.
        const QStringList kinds = waits.split(QLatin1Char(' '));
        QCOMPARE(ch_->at.size(), kinds.size() + 1);
        for (int i = 0; i < kinds.size(); ++i) {
            const qint64 d = ch_->at[i + 1] - ch_->at[i];
            const bool last = kinds[i] == QLatin1String("L");
            QVERIFY2(d >= (last ? kGap + kLast : kGap) * kMs, qPrintable(QString::number(d)));
            if (!last)
                QVERIFY2(d < (kGap + kLast) * kMs, qPrintable(QString::number(d)));
        }
    }

    void sendFailures_data() {
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("opens");
        QTest::newRow("empty file") << "failed" << 0;
        QTest::newRow("file missing") << "failed" << 0;
        QTest::newRow("channel refused") << "failed" << 1;
        QTest::newRow("file shrinks") << "busy idle failed stopped" << 1;
        QTest::newRow("channel lost") << "busy idle failed stopped" << 1;
        QTest::newRow("write refused") << "busy idle failed stopped" << 1;
    }
    void sendFailures() {
        QFETCH(QString, expected);
        QFETCH(int, opens);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        ch_->failOpen = what == "channel refused";
        const QString path = what == "empty file"     ? file(QByteArray())
                             : what == "file missing" ? dir_.filePath("gone.bmp")
                                                      : file(pattern(400));
        const bool started = expected.startsWith("busy");
        // After the first block: the device goes, or the channel is closed
        // under the sender so that the next write is refused.
        connect(sender_.get(), &ImageSender::progress, this, [this, what](qint64 sent) {
            if (sent != 90)
                return;
            ch_->close();
            if (what == "channel lost")
                emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        });
        if (what != "write refused" && what != "channel lost")
            disconnect(sender_.get(), &ImageSender::progress, this, nullptr);
        QCOMPARE(sender_->send(path), started);
        if (what == "file shrinks")
            QVERIFY(QFile::resize(path, 150)); // a block goes, the next is short
        QTRY_COMPARE(log(), expected);
        QCOMPARE(ch_->opens, opens);
        QVERIFY(!ch_->isOpen());
        QVERIFY(!sender_->isBusy());
        if (what != "empty file" && what != "file missing" && what != "channel refused")
            QCOMPARE(sender_->sentCount(), qint64(90));
        // Nothing left armed: no late write follows.
        const int written = ch_->writes.size();
        QTest::qWait(kGap + kLast + 20);
        QCOMPARE(ch_->writes.size(), written);
    }

    void parseHeaders_data() {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<bool>("master");
        QTest::addColumn<Header::Status>("status");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("sender");
        QTest::addColumn<QByteArray>("data");
        using S = Header::Status;
        QTest::newRow("slave blank digits")
            << QByteArray(" 350") << false << S::Accepted << qint64(350) << 0 << QByteArray();
        QTest::newRow("slave leading blanks")
            << QByteArray("    350") << false << S::Accepted << qint64(350) << 0 << QByteArray();
        QTest::newRow("slave no blank")
            << QByteArray("12") << false << S::NoNumber << qint64(0) << 0 << QByteArray();
        QTest::newRow("slave no number")
            << QByteArray(" x350") << false << S::NoNumber << qint64(0) << 0 << QByteArray();
        QTest::newRow("slave blanks only")
            << QByteArray("  ") << false << S::NoNumber << qint64(0) << 0 << QByteArray();
        QTest::newRow("slave zero")
            << QByteArray(" 0") << false << S::NoNumber << qint64(0) << 0 << QByteArray();
        QTest::newRow("slave with first block")
            << QByteArray(" 350BM\x00\x01", 8) << false << S::Accepted << qint64(350) << 0
            << QByteArray("BM\x00\x01", 4);
        QTest::newRow("slave 1 GiB") << QByteArray(" 1073741824") << false << S::Accepted
                                     << kMaxImageSize << 0 << QByteArray();
        QTest::newRow("slave above 1 GiB")
            << QByteArray(" 1073741825") << false << S::Absurd << qint64(0) << 0 << QByteArray();
        QTest::newRow("slave 30 digits") << QByteArray(" " + QByteArray(30, '9')) << false
                                         << S::Absurd << qint64(0) << 0 << QByteArray();
        QTest::newRow("master 7") << QByteArray("\x07 350") << true << S::Accepted << qint64(350)
                                  << 7 << QByteArray();
        QTest::newRow("master 255, first block") << QByteArray("\xff 90\xff"
                                                               "abc")
                                                 << true << S::Accepted << qint64(90) << 255
                                                 << QByteArray("\xff"
                                                               "abc");
        QTest::newRow("master address is a blank") << QByteArray("  180 12") << true << S::Accepted
                                                   << qint64(180) << 32 << QByteArray(" 12");
        QTest::newRow("master no number")
            << QByteArray("\x07 ?") << true << S::NoNumber << qint64(0) << 7 << QByteArray();
        QTest::newRow("master empty")
            << QByteArray() << true << S::NoNumber << qint64(0) << 0 << QByteArray();
        // Address 53 is the digit "5": the packet layout tells where the size ends.
        QTest::newRow("master digit address alone")
            << QByteArray("5 355") << true << S::Accepted << qint64(355) << 53 << QByteArray();
        QTest::newRow("master digit address, blocks")
            << QByteArray("5 355") + "5" + QByteArray(90, '1') + "5" + "12" << true << S::Accepted
            << qint64(355) << 53 << QByteArray("5" + QByteArray(90, '1') + "5" + "12");
    }
    void parseHeaders() {
        QFETCH(QByteArray, batch);
        QFETCH(bool, master);
        QFETCH(Header::Status, status);
        QFETCH(qint64, size);
        QFETCH(int, sender);
        QFETCH(QByteArray, data);
        const Header h = parseHeader(batch, master);
        QCOMPARE(h.status, status);
        QCOMPARE(h.size, size);
        QCOMPARE(h.sender, sender);
        QCOMPARE(h.data, data);
    }

    // A batch that may be only the first bytes of a header.
    void headerCompleteness_data() {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<bool>("master");
        QTest::addColumn<bool>("complete");
        QTest::newRow("slave digits to the end") << QByteArray(" 35") << false << false;
        QTest::newRow("slave blanks only") << QByteArray("  ") << false << false;
        QTest::newRow("slave digits and data") << QByteArray(" 35B") << false << true;
        QTest::newRow("slave garbage") << QByteArray("\x88") << false << true;
        QTest::newRow("slave digits, no blank") << QByteArray("35") << false << true;
        QTest::newRow("slave 11 digits") << QByteArray(" 12345678901") << false << true;
        QTest::newRow("master address only") << QByteArray("\x07") << true << false;
        QTest::newRow("master address, blank") << QByteArray("\x07 ") << true << false;
        QTest::newRow("master digits to the end") << QByteArray("\x07 3") << true << false;
        QTest::newRow("master digits, next packet") << QByteArray("\x07 3\x07") << true << true;
        QTest::newRow("master digit address alone") << QByteArray("5 35") << true << false;
    }
    void headerCompleteness() {
        QFETCH(QByteArray, batch);
        QFETCH(bool, master);
        QFETCH(bool, complete);
        QCOMPARE(parseHeader(batch, master).complete, complete);
    }

    // At 9600 baud a header may reach the receiver over several events.
    void headerInPieces() {
        settings_.setMode(Mode::Master);
        QList<qint64> sizes;
        connect(rx_.get(), &ImageReceiver::headerAccepted, this, [&](qint64 s) { sizes << s; });
        QVERIFY(rx_->receive());
        for (const char* piece : {"\x07", " 3", "5", "0"}) {
            ch_->inject(piece);
            QTest::qWait(2);
        }
        QTest::qWait(ImageReceiver::kHeaderSettleMs + 30);
        QCOMPARE(rx_->state(), ImageReceiver::State::ReceivingData);
        QCOMPARE(sizes, QList<qint64>({350}));
        ch_->inject(packets(pattern(350), 7));
        QTRY_VERIFY(log_.contains("end"));
        QCOMPARE(result_.verdict, Verdict::Complete);
        QCOMPARE(readFile(result_.candidate), QString::fromLatin1(pattern(350).toHex()));
    }

    void stripping_data() {
        QTest::addColumn<int>("dataSize");
        QTest::newRow("one byte") << 1;
        QTest::newRow("last packet of 2 bytes") << 91;
        QTest::newRow("one full packet") << 90;
        QTest::newRow("4 x 91 + 21") << 380;
        QTest::newRow("200 KB, chunk boundaries") << 200000;
    }
    void stripping() {
        QFETCH(int, dataSize);
        const QByteArray data = pattern(dataSize, 3);
        const QByteArray stream = packets(data, '\x07');
        QCOMPARE(stripAddressBytes(stream), data);
        // Fed in uneven pieces, the result is the same.
        AddressStripper s;
        QByteArray pieces;
        for (qsizetype at = 0, step = 1; at < stream.size(); at += step, step = step * 3 % 97 + 1)
            s.feed(stream.constData() + at, qMin<qsizetype>(step, stream.size() - at), pieces);
        QCOMPARE(pieces, data);
        QBuffer in, out;
        in.setData(stream);
        in.open(QIODevice::ReadOnly);
        out.open(QIODevice::WriteOnly);
        QCOMPARE(stripAddressBytes(in, out), qint64(dataSize));
        QCOMPARE(out.data(), data);
    }

    void lengthCheck() {
        QCOMPARE(judge(350, 349), Verdict::Incomplete);
        QCOMPARE(judge(350, 350), Verdict::Complete);
        QCOMPARE(judge(350, 351), Verdict::Complete);
        QCOMPARE(judge(0, 500), Verdict::NoHeader);
    }

    void statistics_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("rate");
        // 350 x 8 / 3.13 = 894.57; 1 x 8 / 0.64 = 12.5 rounds up.
        QTest::newRow("en half up") << "en_US" << qint64(350) << qint64(3125) << "3.13"
                                    << "895";
        QTest::newRow("de half up") << "de_DE" << qint64(350) << qint64(3125) << "3,13"
                                    << "895";
        QTest::newRow("en rate half up") << "en_US" << qint64(1) << qint64(640) << "0.64"
                                         << "13";
        QTest::newRow("en shortest") << "en_US" << qint64(30000) << qint64(3499) << "3.5"
                                     << "68,571";
        QTest::newRow("de grouping") << "de_DE" << qint64(30000) << qint64(1000) << "1"
                                     << "240.000";
        QTest::newRow("en below half") << "en_US" << qint64(1234) << qint64(3124) << "3.12"
                                       << "3,164";
        QTest::newRow("C grouping") << "C" << qint64(1048576) << qint64(2004) << "2"
                                    << "4,194,304";
    }
    void statistics() {
        QFETCH(QString, locale);
        QFETCH(qint64, size);
        QFETCH(qint64, ms);
        QFETCH(QString, time);
        QFETCH(QString, rate);
        const QLocale loc(locale);
        QCOMPARE(sizeText(size), QStringLiteral("Image Size: %1 bytes").arg(size));
        QCOMPARE(timeText(ms, loc), QStringLiteral("Time: %1 seconds").arg(time));
        QCOMPARE(baudRateText(size, ms, loc), QStringLiteral("Baud Rate: %1 bps").arg(rate));
    }

    void barBeyondInt() {
        const qint64 max = qint64(5) * 1000 * 1000 * 1000;
        const BarScale s(max);
        QVERIFY(s.maximum() > 1000000);
        QCOMPARE(s.value(max), s.maximum());
        QCOMPARE(s.value(max / 2), s.maximum() / 2);
        QVERIFY(s.fits(max) && !s.fits(max + 1));
        const BarScale small(350);
        QCOMPARE(QList<int>({small.maximum(), small.value(349), small.value(400)}),
                 QList<int>({350, 349, 350}));
    }

    // Receptions on a slave and on a master, split in batches as the line
    // may deliver them.
    void receptions_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("delta");     // bytes more (or fewer) than announced
        QTest::addColumn<bool>("oneBatch"); // the first block with the header
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("slave 350") << false << 350 << 0 << false << Verdict::Complete;
        QTest::newRow("slave one short") << false << 350 << -1 << false << Verdict::Incomplete;
        QTest::newRow("slave one long") << false << 350 << 1 << false << Verdict::Complete;
        QTest::newRow("slave header + block") << false << 350 << 0 << true << Verdict::Complete;
        QTest::newRow("master 380") << true << 380 << 0 << false << Verdict::Complete;
        QTest::newRow("master one short") << true << 380 << -1 << false << Verdict::Incomplete;
        QTest::newRow("master header + block") << true << 380 << 0 << true << Verdict::Complete;
        QTest::newRow("master 2-byte packet") << true << 91 << 0 << false << Verdict::Complete;
    }
    void receptions() {
        QFETCH(bool, master);
        QFETCH(int, size);
        QFETCH(int, delta);
        QFETCH(bool, oneBatch);
        QFETCH(Verdict, verdict);
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        const QByteArray data = pattern(size + delta, 9);
        const QByteArray header =
            (master ? QByteArray("\x07") : QByteArray()) + " " + QByteArray::number(size);
        const QByteArray stream = master ? packets(data, '\x07') : data;
        QList<QByteArray> batches;
        if (oneBatch)
            batches << header + stream.left(91) << stream.mid(91);
        else
            batches << header << stream.left(100) << stream.mid(100);
        int sender = -1;
        connect(rx_.get(), &ImageReceiver::headerRead, this, [&](int s) { sender = s; });
        QElapsedTimer clock;
        clock.start();
        const Reception r = receiveBatches(batches);
        QCOMPARE(log(), QStringLiteral("busy idle end"));
        QCOMPARE(r.verdict, verdict);
        QCOMPARE(r.announced, qint64(size));
        QCOMPARE(sender, master ? 7 : 0);
        QCOMPARE(rx_->receivedCount(), qint64(stream.size()));
        QVERIFY(r.elapsedMs >= kEndMs && r.elapsedMs <= clock.elapsed());
        QCOMPARE(r.candidate, temp(master ? kStrippedName : kReceivedName));
        QCOMPARE(readFile(r.candidate), QString::fromLatin1(data.toHex()));
        QCOMPARE(readFile(temp(kReceivedName)), QString::fromLatin1(stream.toHex()));
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({1, 1}));
        QVERIFY(!timer4()->isActive());
    }

    // A second, shorter reception is judged on its own bytes alone.
    void earlierLongerReceptionIsGone() {
        const QByteArray first = pattern(500, 1);
        QCOMPARE(receiveBatches({" 500", first}).verdict, Verdict::Complete);
        const Reception r = receiveBatches({" 350", pattern(349, 2)});
        QCOMPARE(r.verdict, Verdict::Incomplete);
        QCOMPARE(QFileInfo(temp(kReceivedName)).size(), qint64(349));
        // A slave reception after a master one leaves no stripped leftovers.
        settings_.setMode(Mode::Master);
        QCOMPARE(receiveBatches({"\x01 100", packets(pattern(100), 1)}).verdict, Verdict::Complete);
        settings_.setMode(Mode::Slave);
        QCOMPARE(receiveBatches({" 10", pattern(10)}).verdict, Verdict::Complete);
        QCOMPARE(QFileInfo(temp(kStrippedName)).size(), qint64(0));
    }

    void failedHeaders_data() {
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("no number") << QByteArray("\x13\x88garbage");
        QTest::newRow("absurd size") << QByteArray(" 99999999999999999999999");
        QTest::newRow("zero") << QByteArray(" 0");
    }
    void failedHeaders() {
        QFETCH(QByteArray, header);
        rx_->setEndOfReception(250);
        QElapsedTimer clock;
        QVERIFY(rx_->receive());
        clock.start();
        ch_->inject(header);
        QCOMPARE(rx_->state(), ImageReceiver::State::AwaitingHeader);
        QTRY_VERIFY(timer4()->isActive());
        // Later batches are headers too, and do not put the end off.
        QTest::qWait(150);
        ch_->inject(QByteArray("more garbage"));
        QTRY_VERIFY(log_.contains("end"));
        QVERIFY2(clock.elapsed() < 380, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(result_.verdict, Verdict::NoHeader);
        QCOMPARE(result_.announced, qint64(0));
        // The bytes left after the end are discarded without reopening.
        QCOMPARE(QList<int>({ch_->opens, ch_->closes, ch_->inputDiscards}), QList<int>({1, 1, 2}));
    }

    void breakAndLoss_data() {
        QTest::addColumn<QString>("expected");
        QTest::newRow("break while awaiting the header") << "busy idle";
        QTest::newRow("break during data") << "busy idle";
        QTest::newRow("device lost") << "busy idle failed";
        QTest::newRow("channel refused") << "failed";
    }
    void breakAndLoss() {
        QFETCH(QString, expected);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        ch_->failOpen = what == "channel refused";
        QCOMPARE(rx_->receive(), !ch_->failOpen);
        if (what == "break during data") {
            ch_->inject(" 350");
            ch_->inject(pattern(100));
            QVERIFY(timer4()->isActive());
        }
        if (what == "device lost") {
            ch_->close();
            emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        } else {
            rx_->stop();
        }
        rx_->stop(); // a second Break, on a closed channel, is harmless
        QTest::qWait(kEndMs + 30);
        QCOMPARE(log(), expected);
        QVERIFY(!ch_->isOpen() && !rx_->isBusy() && !timer4()->isActive());
        QCOMPARE(ch_->opens, 1);
        if (what == "break during data")
            QCOMPARE(readFile(temp(kReceivedName)), QString::fromLatin1(pattern(100).toHex()));
    }

    void tempFolder() {
        QTemporaryDir base;
        const QString fresh = base.filePath("fresh");
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(fresh));
        QString error;
        QCOMPARE(privateTempDir(&error), fresh);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);
        // A symbolic link as the folder is refused.
        const QString link = base.filePath("link");
        QVERIFY(QFile::link(fresh, link));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(link));
        QCOMPARE(privateTempDir(&error), QString());
        QVERIFY2(error.contains("symbolic link"), qPrintable(error));
        // The default folder sits in the system's temporary folder.
        qunsetenv("RAVA2_TEMP_DIR");
        const QByteArray tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(base.path()));
        const QString def = privateTempDir(&error);
        qputenv("TMPDIR", tmp);
        if (tmp.isEmpty())
            qunsetenv("TMPDIR");
        QVERIFY(def.startsWith(base.path() + "/rava2-demo-"));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(tempDir_.path()));
    }

    void plantedLinkIsRefused() {
        const QString victim = dir_.filePath("victim");
        QVERIFY(QFile(victim).open(QIODevice::WriteOnly));
        QFile::remove(temp(kReceivedName));
        QVERIFY(QFile::link(victim, temp(kReceivedName)));
        QVERIFY(!rx_->receive());
        QCOMPARE(log(), QStringLiteral("failed"));
        QVERIFY2(error_.contains("symbolic link"), qPrintable(error_));
        QCOMPARE(ch_->opens, 0);
        QFile::remove(temp(kReceivedName));
        if (geteuid() == 0) {
            // A file of another user is refused as well.
            QVERIFY(QFile(temp(kReceivedName)).open(QIODevice::WriteOnly));
            QCOMPARE(::chown(QFile::encodeName(temp(kReceivedName)).constData(), 4242, 4242), 0);
            QVERIFY(!rx_->receive());
            QVERIFY2(error_.contains("another user"), qPrintable(error_));
            QFile::remove(temp(kReceivedName));
        }
        QVERIFY(rx_->receive());
        rx_->stop();
    }

    // The Send image tab: Open..., Send image with its locks, Clear.
    void sendPage() {
        buildPages();
        const QString bmp = file(picture("BMP"), "a.bmp");
        const QString junk = file(pattern(200), "b.jpg");
        chosen_ = QString();
        click("Command7"); // cancelled
        QCOMPARE(log(), QStringLiteral("Select the source file|Bitmap files (*.bmp);;"
                                       "Gif files (*.gif);;JPEG files (*.jpg)"));
        QVERIFY(pages_->selectedFile().isEmpty() && !w("Command8")->isEnabled());
        chosen_ = junk; // does not decode: selected, nothing else
        click("Command7");
        QCOMPARE(pages_->selectedFile(), junk);
        QVERIFY(!hasPicture("Image2") && !w("Command8")->isEnabled());
        chosen_ = bmp;
        click("Command7");
        QVERIFY(hasPicture("Image2") && w("Command8")->isEnabled());
        chosen_ = junk; // the earlier Open... keeps Send image usable
        click("Command7");
        QVERIFY(hasPicture("Image2") && w("Command8")->isEnabled());
        log_.clear();
        click("Command8");
        QCOMPARE(log(), QStringLiteral("lock:3"));
        QCOMPARE(text("Label12"), QStringLiteral("Waiting, please..."));
        for (const char* b : {"Command7", "Command8", "Command11"})
            QVERIFY2(!w(b)->isEnabled(), b);
        QCOMPARE(w<QProgressBar>("ProgressBar1")->maximum(), 200);
        QTRY_COMPARE(log(), QStringLiteral("lock:3 unlock:3"));
        QCOMPARE(w<QProgressBar>("ProgressBar1")->value(), 200);
        QCOMPARE(ch_->allWritten().right(200), pattern(200)); // the junk file went
        for (const char* b : {"Command7", "Command8", "Command11"})
            QVERIFY2(w(b)->isEnabled(), b);
        QVERIFY(text("Label12").startsWith("Press the Open button"));
        click("Command11");
        QVERIFY(!hasPicture("Image2") && !w("Command8")->isEnabled());
        QCOMPARE(w<QProgressBar>("ProgressBar1")->value(), 0);
        QCOMPARE(pages_->selectedFile(), junk);
    }

    void sendPageFailures_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("channel refused") << "refused";
        QTest::newRow("file deleted") << "Cannot open the file";
        QTest::newRow("empty file") << "is empty";
    }
    void sendPageFailures() {
        QFETCH(QString, message);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        buildPages();
        const QByteArray bmp = picture("BMP");
        chosen_ = file(bmp, "c.bmp");
        click("Command7");
        ch_->failOpen = what == "channel refused";
        if (what == "file deleted")
            QFile::remove(chosen_);
        if (what == "empty file")
            QFile::resize(chosen_, 0);
        log_.clear();
        click("Command8");
        QCOMPARE(log_.size(), 1);
        QVERIFY2(log_[0].startsWith("box:") && log_[0].contains(message), qPrintable(log()));
        QVERIFY(!ch_->isOpen());
        QVERIFY(text("Label12").startsWith("Press the Open button"));
        for (const char* b : {"Command7", "Command8", "Command11"})
            QVERIFY2(w(b)->isEnabled(), b);
    }

    // The Receive image tab: a picture with its statistics, the two error
    // boxes, Break and Clear.
    void receivePage_data() {
        QTest::addColumn<QString>("outcome"); // "" for the picture, else the box
        QTest::newRow("picture") << "";
        QTest::newRow("long enough, not a picture") << "Sorry, bad transmission. Retry, please!";
        QTest::newRow("short") << "Sorry, bad transmission. Retry, please!";
        QTest::newRow("no header")
            << "Check the settings! You may have set different baud rate speed for the "
               "transmitter and the receiver!";
    }
    void receivePage() {
        QFETCH(QString, outcome);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        buildPages();
        settings_.setMode(Mode::Master);
        w<QLabel>("Image2")->setPixmap(QPixmap(10, 10));
        w<QLabel>("Label15")->setText("Image Size: 1 bytes");
        QByteArray image = what == "long enough, not a picture" ? pattern(300) : picture("BMP");
        const QByteArray header = "\x0b " + QByteArray::number(image.size());
        if (what == "short")
            image.chop(1);
        log_.clear();
        click("Command12");
        QCOMPARE(log(), QStringLiteral("lock:4"));
        QCOMPARE(text("Label15"), QStringLiteral("Image Size:"));
        QVERIFY(!w("Command12")->isEnabled() && w("Command13")->isEnabled());
        if (what == "no header") {
            ch_->inject("\x0b garbage");
            QCOMPARE(text("Text9"), QStringLiteral("11"));
            ch_->inject("\x0b more of it");
        } else {
            ch_->inject(header);
            QTRY_COMPARE(text("Text9"), QStringLiteral("11"));
            const QByteArray stream = packets(image, '\x0b');
            ch_->inject(stream.left(stream.size() / 2));
            QCOMPARE(w<QProgressBar>("ProgressBar2")->value(), stream.size() / 2);
            ch_->inject(stream.mid(stream.size() / 2));
        }
        QTRY_VERIFY(log_.contains("unlock:4"));
        QVERIFY(w("Command12")->isEnabled() && !w("Command13")->isEnabled());
        QVERIFY(!hasPicture("Image2"));
        QVERIFY(text("Label13").startsWith("Press the Receive button"));
        auto* bar = w<QProgressBar>("ProgressBar2");
        QCOMPARE(bar->value(), bar->maximum());
        if (outcome.isEmpty()) {
            QCOMPARE(log(), QStringLiteral("lock:4 unlock:4"));
            QVERIFY(hasPicture("Image3"));
            QCOMPARE(text("Label15"), sizeText(image.size()));
            QVERIFY2(text("Label11").startsWith("Time: 0.") ||
                         text("Label11").startsWith("Time: 1"),
                     qPrintable(text("Label11")));
            QVERIFY(text("Label14").startsWith("Baud Rate: "));
            click("Command14");
            QVERIFY(!hasPicture("Image3") && text("Text9").isEmpty());
            QCOMPARE(bar->value(), 0);
            QCOMPARE(text("Label14"), QStringLiteral("Baud Rate:"));
        } else {
            // The two reception boxes carry the exclamation icon.
            QCOMPARE(log(), QStringLiteral("lock:4 unlock:4 warning:") + outcome);
            QVERIFY(!hasPicture("Image3"));
            QCOMPARE(text("Label15"), QStringLiteral("Image Size:"));
        }
    }

    void receivePageBreak() {
        buildPages();
        click("Command12");
        ch_->inject(" 5000");
        ch_->inject(pattern(400));
        w<QLabel>("Label11")->setText("Time: 9 seconds");
        click("Command13");
        QVERIFY(w("Command12")->isEnabled() && !w("Command13")->isEnabled());
        QCOMPARE(text("Label11"), QStringLiteral("Time:"));
        QTest::qWait(kEndMs + 30);
        QCOMPARE(log(), QStringLiteral("lock:4 unlock:4"));
        QVERIFY(!ch_->isOpen());
    }
};

QTEST_MAIN(ImageTransferTest)
#include "test_image_transfer.moc"
