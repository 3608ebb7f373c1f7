// Image transfer logic: the stream a send writes and its timing, header
// reading, address stripping, the length check and the statistics, the
// private temporary files, and the sender and receiver on an in-memory
// channel. The pages are tried through the window end to end.
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "image_transfer/temp_files.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::image;
using S = rava::image::Header::Status;

namespace {

// A fake channel that also notes when each write was handed over (ns).
struct TimedChannel : test::FakeChannel {
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

// A master's data phase for `data`: address byte `from` before every block.
QByteArray packets(const QByteArray& data, char from) {
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); i += 90)
        out += from + data.mid(i, 90);
    return out;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

} // namespace

Q_DECLARE_METATYPE(rava::image::Header)

class ImageTransferTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_, tempDir_; // files to send; RAVA2_TEMP_DIR
    std::unique_ptr<TimedChannel> ch_;
    std::unique_ptr<ImageSender> sender_;
    std::unique_ptr<ImageReceiver> rx_;
    StationSettings settings_;
    QStringList log_;  // signals, messages and tab locks, in order
    Reception result_; // the last reception's end
    QString error_;    // the last failure signalled

    QString file(const QByteArray& bytes, const char* name = "image.bin") {
        return test::writeFile(dir_, QLatin1String(name), bytes);
    }
    QString log() const { return log_.join(QLatin1Char(' ')); }
    QString temp(const char* name) const { return tempDir_.filePath(QLatin1String(name)); }
    // Receive, then the batches, then the end of reception.
    Reception receiveBatches(const QList<QByteArray>& batches) {
        log_.clear();
        if (!rx_->receive())
            return {};
        for (const QByteArray& b : batches)
            ch_->inject(b);
        (void)QTest::qWaitFor([this] { return log_.contains("end"); }, 5000);
        return result_;
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(tempDir_.path()));
    }
    void init() {
        sender_.reset(), rx_.reset(); // before the channel they use
        ch_ = std::make_unique<TimedChannel>();
        settings_.setMode(Mode::Slave);
        log_.clear();
        sender_ = std::make_unique<ImageSender>(*ch_, settings_);
        sender_->setTimings(ImageSender::Timings{kGap, kLast});
        rx_ = std::make_unique<ImageReceiver>(*ch_, settings_);
        rx_->setEndOfReception(kEndMs);
        const auto busy = [this](bool on) { log_.append(on ? "busy" : "idle"); };
        const auto failed = [this](auto, const QString& why) { log_ << "failed", error_ = why; };
        connect(sender_.get(), &ImageSender::busyChanged, this, busy);
        connect(rx_.get(), &ImageReceiver::busyChanged, this, busy);
        connect(sender_.get(), &ImageSender::failed, this, failed);
        connect(rx_.get(), &ImageReceiver::failed, this, failed);
        connect(sender_.get(), &ImageSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
        connect(rx_.get(), &ImageReceiver::finished, this, [this](const Reception& r) {
            result_ = r;
            log_.append("end");
        });
    }

    // The header write in hex, then each block's address byte and length
    // ("07:90", or the length alone on a slave). No wait is ever short; a
    // plain block gap stays well below the last block's gap and delay.
    void sendStream_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<QString>("expected");
        QTest::newRow("1 slave") << 1 << -1 << "2031|1";
        QTest::newRow("90 master 200") << 90 << 200 << "c8203930|c8:90";
        QTest::newRow("91 slave") << 91 << -1 << "203931|90|1";
        QTest::newRow("91 master 7") << 91 << 7 << "07203931|07:90|07:1";
        QTest::newRow("350 slave") << 350 << -1 << "20333530|90|90|90|80";
        QTest::newRow("350 master 32") << 350 << 32 << "2020333530|20:90|20:90|20:90|20:80";
    }
    void sendStream() {
        QFETCH(int, size);
        QFETCH(int, address);
        QFETCH(QString, expected);
        const bool master = address >= 0;
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        const QByteArray bytes = pattern(size, address);
        QVERIFY(sender_->send(file(bytes)));
        QTRY_COMPARE(log(), QStringLiteral("busy idle done"));
        QStringList each{QString::fromLatin1(ch_->writes.value(0).toHex())};
        QByteArray data;
        for (const QByteArray& wr : ch_->writes.mid(1)) {
            each << (master ? wr.left(1).toHex() + ':' : QByteArray()) +
                        QByteArray::number(wr.size() - master);
            data += wr.mid(master ? 1 : 0);
        }
        QCOMPARE(each.join(QLatin1Char('|')), expected);
        QCOMPARE(data, bytes);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes, ch_->outputDiscards}), QList<int>({1, 1, 1}));
        for (int i = 1; i < ch_->at.size(); ++i) {
            const qint64 d = ch_->at[i] - ch_->at[i - 1];
            const bool last = i == ch_->at.size() - 1;
            QVERIFY2(d >= (last ? kGap + kLast : kGap) * kMs, qPrintable(QString::number(d)));
            QVERIFY2(last || d < (kGap + kLast) * kMs, qPrintable(QString::number(d)));
        }
    }

    // A send that fails ends with the channel closed and nothing left armed.
    void sendFailures_data() {
        QTest::addColumn<QString>("expected");
        QTest::newRow("channel refused") << "failed";
        QTest::newRow("file shrinks") << "busy idle failed stopped";
        QTest::newRow("channel lost") << "busy idle failed stopped";
    }
    void sendFailures() {
        QFETCH(QString, expected);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        ch_->failOpen = what == "channel refused";
        const QString path = file(pattern(400));
        if (what == "channel lost")
            connect(sender_.get(), &ImageSender::progress, this, [this](qint64 sent) {
                if (sent == 90)
                    ch_->close(), emit ch_->lost(QStringLiteral("COM 1: the device was removed."));
            });
        QCOMPARE(sender_->send(path), expected.startsWith("busy"));
        if (what == "file shrinks")
            QVERIFY(QFile::resize(path, 150)); // a block goes, the next is short
        QTRY_COMPARE(log(), expected);
        QVERIFY(!ch_->isOpen() && !sender_->isBusy());
        QCOMPARE(ch_->writes.size(), expected.startsWith("busy") ? 2 : 0); // header, a block
        QTest::qWait(kGap + kLast + 20);
        QCOMPARE(ch_->writes.size(), expected.startsWith("busy") ? 2 : 0);
    }

    // size, sender, data after the digits, and whether the batch can no
    // longer grow into a longer header.
    void parseHeaders_data() {
        QTest::addColumn<QByteArray>("batch");
        QTest::addColumn<bool>("master");
        QTest::addColumn<Header>("h");
        QTest::newRow("slave") << QByteArray("  350") << false
                               << Header{S::Accepted, 350, 0, {}, false};
        QTest::newRow("slave no blank")
            << QByteArray("12") << false << Header{S::NoNumber, 0, 0, {}};
        QTest::newRow("slave with first block")
            << QByteArray(" 350BM\0", 7) << false << Header{S::Accepted, 350, 0, {"BM\0", 3}};
        QTest::newRow("slave above 1 GiB")
            << QByteArray(" 1073741825") << false << Header{S::Absurd, 0, 0, {}, false};
        QTest::newRow("slave 30 digits")
            << QByteArray(" " + QByteArray(30, '9')) << false << Header{S::Absurd, 0, 0, {}};
        QTest::newRow("master 255, first block")
            << QByteArray("\xff 90\xffxyz") << true << Header{S::Accepted, 90, 255, "\xffxyz"};
        // Address 53 is the digit "5": the packet layout tells where the size ends.
        const QByteArray blocks = "5" + QByteArray(90, '1') + "512";
        QTest::newRow("master digit address, blocks")
            << "5 355" + blocks << true << Header{S::Accepted, 355, 53, blocks};
    }
    void parseHeaders() {
        QFETCH(QByteArray, batch);
        QFETCH(bool, master);
        QFETCH(Header, h);
        const Header got = parseHeader(batch, master);
        QCOMPARE(got.status, h.status);
        QCOMPARE(got.size, h.size);
        QCOMPARE(got.sender, h.sender);
        QCOMPARE(got.data, h.data);
        QCOMPARE(got.complete, h.complete);
    }

    // At 9600 baud a header may reach the receiver over several events.
    void headerInPieces() {
        settings_.setMode(Mode::Master);
        QVERIFY(rx_->receive());
        for (const char* piece : {"\x07", " 3", "5", "0"}) {
            ch_->inject(piece);
            QTest::qWait(2);
        }
        QTest::qWait(ImageReceiver::kHeaderSettleMs + 30);
        ch_->inject(packets(pattern(350), 7));
        QTRY_VERIFY(log_.contains("end"));
        QCOMPARE(result_.verdict, Verdict::Complete);
        QCOMPARE(readFile(result_.candidate), pattern(350));
    }

    // From a file in chunks, as the receiver does.
    void stripping_data() {
        QTest::addColumn<int>("dataSize");
        QTest::newRow("last packet of 2 bytes") << 91;
        QTest::newRow("200 KB, chunk boundaries") << 200000;
    }
    void stripping() {
        QFETCH(int, dataSize);
        const QByteArray data = pattern(dataSize, 3);
        const QByteArray stream = packets(data, '\x07');
        QBuffer in, out;
        in.setData(stream);
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        QCOMPARE(stripAddressBytes(in, out), qint64(dataSize));
        QCOMPARE(out.data(), data);
    }

    void statistics_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("expected");
        // 350 x 8 / 3.13 = 894.57; 1 x 8 / 0.64 = 12.5 rounds up.
        QTest::newRow("en half up") << "en_US" << qint64(350) << qint64(3125) << "3.13 895";
        QTest::newRow("de half up") << "de_DE" << qint64(350) << qint64(3125) << "3,13 895";
        QTest::newRow("en rate half up") << "en_US" << qint64(1) << qint64(640) << "0.64 13";
        QTest::newRow("de grouping") << "de_DE" << qint64(30000) << qint64(1000) << "1 240.000";
    }
    void statistics() {
        QFETCH(QString, locale);
        QFETCH(qint64, size);
        QFETCH(qint64, ms);
        QFETCH(QString, expected);
        QCOMPARE(timeText(ms, QLocale(locale)) + ' ' + baudRateText(size, ms, QLocale(locale)),
                 QStringLiteral("Time: %1 seconds Baud Rate: %2 bps")
                     .arg(expected.section(' ', 0, 0), expected.section(' ', 1)));
    }

    // Receptions split in batches as the line may deliver them: the files
    // stored and the length check.
    void receptions_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("delta");     // bytes more (or fewer) than announced
        QTest::addColumn<bool>("oneBatch"); // the first block with the header
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("slave one short") << false << 350 << -1 << false << Verdict::Incomplete;
        QTest::newRow("slave one long") << false << 350 << 1 << false << Verdict::Complete;
        QTest::newRow("slave header + block") << false << 350 << 0 << true << Verdict::Complete;
        QTest::newRow("master one short") << true << 380 << -1 << false << Verdict::Incomplete;
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
        const QByteArray header = (master ? "\x07 " : " ") + QByteArray::number(size);
        const QByteArray stream = master ? packets(data, '\x07') : data;
        const int first = oneBatch ? 91 : 0;
        QElapsedTimer clock;
        clock.start();
        const Reception r = receiveBatches(
            {header + stream.left(first), stream.mid(first, 100 - first), stream.mid(100)});
        QCOMPARE(log(), QStringLiteral("busy idle end"));
        QCOMPARE(r.verdict, verdict);
        QCOMPARE(r.announced, qint64(size));
        QVERIFY(r.elapsedMs >= kEndMs && r.elapsedMs <= clock.elapsed());
        QCOMPARE(r.candidate, temp(master ? kStrippedName : kReceivedName));
        QCOMPARE(readFile(r.candidate), data);
        QCOMPARE(readFile(temp(kReceivedName)), stream);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({1, 1}));
    }

    // A second, shorter reception is judged on its own bytes alone, and a
    // slave reception after a master one leaves no stripped leftovers.
    void earlierLongerReceptionIsGone() {
        QCOMPARE(receiveBatches({" 500", pattern(500, 1)}).verdict, Verdict::Complete);
        QCOMPARE(receiveBatches({" 350", pattern(349, 2)}).verdict, Verdict::Incomplete);
        QCOMPARE(QFileInfo(temp(kReceivedName)).size(), qint64(349));
        settings_.setMode(Mode::Master);
        QCOMPARE(receiveBatches({"\x01 100", packets(pattern(100), 1)}).verdict, Verdict::Complete);
        settings_.setMode(Mode::Slave);
        QCOMPARE(receiveBatches({" 10", pattern(10)}).verdict, Verdict::Complete);
        QCOMPARE(QFileInfo(temp(kStrippedName)).size(), qint64(0));
    }

    // A symbolic link in place of the private folder or of a temporary file
    // is refused.
    void tempFiles() {
        QTemporaryDir base;
        const QString fresh = base.filePath("fresh"), link = base.filePath("link");
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(fresh));
        QString error;
        QCOMPARE(privateTempDir(&error), fresh);
        QVERIFY(QFile::link(fresh, link));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(link));
        QCOMPARE(privateTempDir(&error), QString());
        QVERIFY2(error.contains("symbolic link"), qPrintable(error));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(tempDir_.path()));
        QFile::remove(temp(kReceivedName));
        QVERIFY(QFile::link(file("victim"), temp(kReceivedName)));
        QVERIFY(!rx_->receive());
        QCOMPARE(log(), QStringLiteral("failed"));
        QVERIFY2(error_.contains("symbolic link"), qPrintable(error_));
        QCOMPARE(ch_->opens, 0);
        QVERIFY(QFile::remove(temp(kReceivedName)));
    }
};

QTEST_MAIN(ImageTransferTest)
#include "test_image_transfer.moc"
