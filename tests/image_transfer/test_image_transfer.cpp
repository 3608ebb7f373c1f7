// Image transfer logic on an in-memory channel with short waits.
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "image_transfer/temp_files.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QTemporaryDir>
#include <QtTest>
#include <tuple>

using namespace rava;
using namespace rava::image;

namespace {

constexpr qint64 kMs = 1000000;
constexpr int kGap = 10;    // injected block gap
constexpr int kLast = 60;   // injected last-block delay
constexpr int kEndMs = 120; // injected end-of-reception silence

QByteArray pattern(qint64 size, int seed) {
    QByteArray b(qsizetype(size), Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[qsizetype(i)] = char((i * 7 + seed + i / 251) & 0xFF);
    return b;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "(missing)";
}

} // namespace

class ImageTransferTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_, tempDir_; // files to send; RAVA2_TEMP_DIR
    std::unique_ptr<test::FakeChannel> ch_;
    std::unique_ptr<ImageSender> sender_;
    std::unique_ptr<ImageReceiver> rx_;
    StationSettings settings_;
    QStringList log_;  // busy changes, failures and ends, in order
    Reception result_; // the last reception's end

    QString log() const { return log_.join(QLatin1Char(' ')); }
    QString temp(const char* name) const { return tempDir_.filePath(QLatin1String(name)); }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QStringLiteral("en_US")));
        qputenv("RAVA2_TEMP_DIR", QFile::encodeName(tempDir_.path()));
    }
    void init() {
        sender_.reset(), rx_.reset(); // before the channel they use
        ch_ = std::make_unique<test::FakeChannel>();
        settings_.setMode(Mode::Slave);
        log_.clear();
        Timings timings;
        timings.endOfReceptionMs = kEndMs;
        timings.blockGapMs = kGap;
        timings.lastBlockDelayMs = kLast;
        sender_ = std::make_unique<ImageSender>(*ch_, settings_, timings);
        rx_ = std::make_unique<ImageReceiver>(*ch_, settings_, timings);
        const auto busy = [this](bool on) { log_.append(on ? "busy" : "idle"); };
        connect(sender_.get(), &ImageSender::busyChanged, this, busy);
        connect(rx_.get(), &ImageReceiver::busyChanged, this, busy);
        connect(sender_.get(), &ImageSender::failed, this, [this] { log_ << "failed"; });
        connect(sender_.get(), &ImageSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
        connect(rx_.get(), &ImageReceiver::finished, this, [this](const Reception& r) {
            result_ = r;
            log_.append("end");
        });
    }

    // A file goes through the sender and then, as the module delivers the
    // writes (a slave's behind its address, a master's without it), into the
    // receiver of the other mode in batches cut at places counted from the
    // header's end. `wire`: the header write in hex, then each block's
    // address byte and length ("07:90"; the length alone from a slave). The
    // receiver gets `delta` bytes more (or fewer) than were sent.
    void transfer_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("address"); // below 0: a slave of that address (negated) sends
        QTest::addColumn<QString>("wire");
        QTest::addColumn<int>("delta");
        QTest::addColumn<QList<int>>("cuts");
        QTest::addColumn<Verdict>("verdict");
        const QList<int> plain{0, 100};
        const Verdict ok = Verdict::Complete;
        QTest::newRow("1 slave 7") << 1 << -7 << "2031|1" << 0 << plain << ok;
        QTest::newRow("90 master 200") << 90 << 200 << "c8203930|c8:90" << 0 << plain << ok;
        // The master receives a last packet of 2 bytes.
        QTest::newRow("91 slave 7") << 91 << -7 << "203931|90|1" << 0 << plain << ok;
        QTest::newRow("91 master 7, one long")
            << 91 << 7 << "07203931|07:90|07:1" << 1 << plain << ok;
        // At 9600 baud a header may reach the receiver over several events.
        QTest::newRow("350 slave 7, header in pieces")
            << 350 << -7 << "20333530|90|90|90|80" << 0 << QList<int>{-4, -2, -1, 0, 100} << ok;
        QTest::newRow("350 master 32, header + block")
            << 350 << 32 << "2020333530|20:90|20:90|20:90|20:80" << 0 << QList<int>{90} << ok;
        // Address 53 is the digit "5": the packet layout tells where the size ends.
        QTest::newRow("350 slave 53, header + block")
            << 350 << -53 << "20333530|90|90|90|80" << 0 << QList<int>{91} << ok;
        QTest::newRow("380 slave 7, one short")
            << 380 << -7 << "20333830|90|90|90|90|20" << -1 << plain << Verdict::Incomplete;
        QTest::newRow("350 master 7, one short") << 350 << 7 << "0720333530|07:90|07:90|07:90|07:80"
                                                 << -1 << plain << Verdict::Incomplete;
    }
    void transfer() {
        QFETCH(int, size);
        QFETCH(int, address);
        QFETCH(QString, wire);
        QFETCH(int, delta);
        QFETCH(QList<int>, cuts);
        QFETCH(Verdict, verdict);
        const bool master = address >= 0;
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        const QByteArray bytes = pattern(size, address);
        QVERIFY(sender_->send(test::writeFile(dir_, QStringLiteral("image.bin"), bytes)));
        QTRY_COMPARE(log(), QStringLiteral("busy idle done"));
        QStringList each{QString::fromLatin1(ch_->writes.value(0).toHex())};
        QByteArray data, arrives; // the file in the blocks; what the other station gets
        for (const QByteArray& wr : ch_->writes) {
            if (!arrives.isEmpty()) {
                each << (master ? wr.left(1).toHex() + ':' : QByteArray()) +
                            QByteArray::number(wr.size() - master);
                data += wr.mid(master ? 1 : 0);
            }
            arrives += master ? wr.mid(1) : char(-address) + wr;
        }
        QCOMPARE(each.join(QLatin1Char('|')), wire);
        QCOMPARE(data, bytes);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes, ch_->outputDiscards}), QList<int>({1, 1, 1}));
        const QList<qint64>& at = ch_->writtenAtNs;
        for (int i = 1; i < at.size(); ++i) {
            const qint64 d = at[i] - at[i - 1];
            const bool last = i == at.size() - 1;
            QVERIFY2(d >= (last ? kGap + kLast : kGap) * kMs, qPrintable(QString::number(d)));
            QVERIFY2(last || d < (kGap + kLast) * kMs, qPrintable(QString::number(d)));
        }

        const int header = int(ch_->writes[0].size()) + (master ? -1 : 1);
        arrives = delta < 0 ? arrives.chopped(-delta) : arrives + QByteArray(delta, 'x');
        settings_.setMode(master ? Mode::Slave : Mode::Master);
        // Both files start empty, whatever an earlier reception left.
        for (const char* name : {kReceivedName, kStrippedName})
            test::writeFile(tempDir_, QLatin1String(name), QByteArray(1000, '#'));
        QElapsedTimer clock;
        clock.start();
        log_.clear();
        QVERIFY(rx_->receive());
        int from = 0; // batches 2 ms apart, then silence
        for (int cut : cuts << int(arrives.size()) - header) {
            ch_->inject(arrives.mid(from, header + cut - from));
            from = header + cut;
            QTest::qWait(2);
        }
        QTRY_VERIFY_WITH_TIMEOUT(log_.contains("end"), 5000);
        const Reception& r = result_;
        QCOMPARE(log(), QStringLiteral("busy idle end"));
        QCOMPARE(r.verdict, verdict);
        QCOMPARE(r.announced, qint64(size));
        QVERIFY(r.elapsedMs >= kEndMs && r.elapsedMs <= clock.elapsed());
        QCOMPARE(r.candidate, temp(master ? kReceivedName : kStrippedName));
        QCOMPARE(readFile(r.candidate),
                 delta < 0 ? bytes.chopped(-delta) : bytes + QByteArray(delta, 'x'));
        QCOMPARE(readFile(temp(kReceivedName)), arrives.mid(header));
        if (master) // a slave strips nothing
            QCOMPARE(readFile(temp(kStrippedName)), QByteArray());
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({2, 2}));
    }

    // A send that fails midway ends with the channel closed and nothing
    // left armed: no write follows.
    void sendFailures_data() {
        QTest::addColumn<bool>("lost");
        QTest::newRow("file shrinks") << false;
        QTest::newRow("channel lost") << true;
    }
    void sendFailures() {
        QFETCH(bool, lost);
        const QString path = test::writeFile(dir_, QStringLiteral("image.bin"), pattern(400, 0));
        if (lost)
            connect(sender_.get(), &ImageSender::progress, this, [this] {
                ch_->close();
                emit ch_->lost(QStringLiteral("COM 1: the device was removed."));
            });
        QVERIFY(sender_->send(path));
        if (!lost)
            QVERIFY(QFile::resize(path, 150)); // a block goes, the next is short
        QTRY_COMPARE(log(), QStringLiteral("busy idle failed stopped"));
        QVERIFY(!ch_->isOpen() && !sender_->isBusy());
        QTest::qWait(kGap + kLast + 20);
        QCOMPARE(ch_->writes.size(), 2); // the header and one block
    }

    // A sender that never goes quiet: a header that does not end, data past
    // the announced size and one packet more. Each ends the reception the
    // moment its bound is passed, keeping nothing beyond it; up to the bound
    // all is taken as usual. `header` comes in batches of `headerBatch`
    // bytes, then `data` bytes in batches of `dataBatch`.
    void boundsOnWhatArrives_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("headerBatch");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("dataBatch");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<int>("stored"); // length of the received-data file
        const QByteArray master350("\x07 350"), longest("\x07 0000000350");
        QTest::newRow("10 MB of blanks in one batch")
            << false << QByteArray(10 << 20, ' ') << (10 << 20) << 0 << 1 << Verdict::HeaderTooLong
            << 0;
        QTest::newRow("blanks one by one, master")
            << true << QByteArray("\x07") + QByteArray(12, ' ') << 1 << 0 << 1
            << Verdict::HeaderTooLong << 0;
        // (Eleven digits are no size at all, which parseHeader tells at once.)
        QTest::newRow("two blanks and ten digits one by one, slave")
            << false << QByteArray("  0000000350") << 1 << 0 << 1 << Verdict::HeaderTooLong << 0;
        QTest::newRow("the longest header one by one, master")
            << true << longest << 1 << 354 << 91 << Verdict::Complete << 354;
        QTest::newRow("slave: one block more")
            << false << QByteArray(" 350") << 4 << 350 + 91 << 90 << Verdict::Complete << 441;
        QTest::newRow("slave: one byte past one block more")
            << false << QByteArray(" 350") << 4 << 350 + 92 << 90 << Verdict::TooMuchData << 441;
        QTest::newRow("master: one byte past one packet more")
            << true << master350 << 5 << 354 + 92 << 91 << Verdict::TooMuchData << 445;
        QTest::newRow("slave: 10 MB that never end")
            << false << QByteArray(" 350") << 4 << (10 << 20) << (64 << 10) << Verdict::TooMuchData
            << 441;
    }
    void boundsOnWhatArrives() {
        QFETCH(bool, master);
        QFETCH(QByteArray, header);
        QFETCH(int, headerBatch);
        QFETCH(int, data);
        QFETCH(int, dataBatch);
        QFETCH(Verdict, verdict);
        QFETCH(int, stored);
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        QVERIFY(rx_->receive());
        for (qsizetype at = 0; at < header.size() && rx_->isBusy(); at += headerBatch)
            ch_->inject(header.mid(at, headerBatch));
        const QByteArray bytes = pattern(data, 7);
        for (qsizetype at = 0; at < bytes.size() && rx_->isBusy(); at += dataBatch) {
            ch_->inject(bytes.mid(at, dataBatch));
            if (at == 0)
                QTest::qWait(5); // a header whose digits end the batch settles first
        }
        if (verdict == Verdict::Complete)
            QTRY_VERIFY_WITH_TIMEOUT(log_.contains("end"), 5000);
        // A bound ends the reception at once, with the channel closed.
        QCOMPARE(log(), QStringLiteral("busy idle end"));
        QVERIFY(!ch_->isOpen());
        QCOMPARE(result_.verdict, verdict);
        QCOMPARE(QFileInfo(temp(kReceivedName)).size(), qint64(stored));
        QCOMPARE(readFile(temp(kReceivedName)), bytes.left(stored));
        QCOMPARE(result_.announced, qint64(verdict == Verdict::HeaderTooLong ? 0 : 350));
    }

    // With the real waits, each line setting's block gap follows the header
    // and every full block, and the last block waits the gap and the
    // last-block delay: seen on the wire at their real values.
    void realBlockGaps_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("lastMs");
        QTest::newRow("9600") << 0 << 35 << 90;
        QTest::newRow("19200") << 3 << 30 << 40;
        QTest::newRow("57600") << 6 << 25 << 30;
        QTest::newRow("115200") << 9 << 20 << 30;
    }
    void realBlockGaps() {
        QFETCH(int, setting);
        QFETCH(int, gapMs);
        QFETCH(int, lastMs);
        settings_.setLineSetting(setting);
        ImageSender sender(*ch_, settings_);
        QSignalSpy finished(&sender, &ImageSender::finished);
        QVERIFY(sender.send(test::writeFile(dir_, QStringLiteral("gaps.bin"), pattern(181, 1))));
        QTRY_COMPARE(finished.size(), 1);
        const QList<qint64>& at = ch_->writtenAtNs;
        QCOMPARE(at.size(), 4); // the header and three blocks
        for (int i = 1; i < at.size(); ++i) {
            const qint64 d = at[i] - at[i - 1];
            const int least = i == at.size() - 1 ? gapMs + lastMs : gapMs;
            QVERIFY2(
                d >= least * kMs,
                qPrintable(
                    QStringLiteral("write %1 after %2 ns, not %3 ms").arg(i).arg(d).arg(least)));
        }
    }

    // The reception's time runs from the first byte of the header, not from
    // the moment the header is taken as whole (a header that may still grow
    // waits for a short silence first).
    void receptionTimeStartsAtTheHeadersFirstByte() {
        Timings timings;
        timings.endOfReceptionMs = kEndMs;
        timings.headerSettleMs = 60;
        ImageReceiver rx(*ch_, settings_, timings);
        qint64 wall = -1;
        QElapsedTimer clock;
        connect(&rx, &ImageReceiver::finished, this, [&](const Reception& r) {
            wall = clock.elapsed();
            result_ = r;
        });
        QVERIFY(rx.receive());
        clock.start();
        ch_->inject(" 5"); // the digits run to the end: the header settles first
        QTest::qWait(100);
        ch_->inject("abcde");
        QTRY_VERIFY(wall >= 0);
        QCOMPARE(result_.verdict, Verdict::Complete);
        QVERIFY2(result_.elapsedMs >= wall - 3 && result_.elapsedMs <= wall,
                 qPrintable(QStringLiteral("%1 ms of %2").arg(result_.elapsedMs).arg(wall)));
    }

    void headerAnnouncesAtMostOneGiB() {
        QCOMPARE(parseHeader(" 1073741824", false).status, Header::Status::Accepted);
        QCOMPARE(parseHeader(" 1073741825", false).status, Header::Status::Absurd);
    }

    // Time and bit rate, rounded half up, in the user's locale: 350 x 8 /
    // 3.13 = 894.57; 1 x 8 / 0.64 = 12.5.
    void statistics() {
        const std::tuple<const char*, qint64, qint64, const char*, const char*> rows[] = {
            {"en_US", 350, 3125, "3.13", "895"},
            {"de_DE", 350, 3125, "3,13", "895"},
            {"en_US", 1, 640, "0.64", "13"},
            {"de_DE", 30000, 1000, "1", "240.000"}};
        for (const auto& [locale, size, ms, seconds, bps] : rows) {
            QCOMPARE(timeText(ms, QLocale(locale)),
                     QStringLiteral("Time: %1 seconds").arg(seconds));
            QCOMPARE(baudRateText(size, ms, QLocale(locale)),
                     QStringLiteral("Baud Rate: %1 bps").arg(bps));
        }
    }
};

QTEST_MAIN(ImageTransferTest)
#include "test_image_transfer.moc"
