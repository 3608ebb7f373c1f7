// The two senders on a real serial channel whose far end reads at the line's
// own speed: every write reaches the line as a packet of its own, separated
// from the next by at least a module's packet gap and by the specified wait
// counted from the hand-over; nothing is lost, not even by a second send
// right behind the first; a line that takes nothing ends the send saying
// how much did not leave.
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "link/line_settings.h"
#include "link/serial_channel.h"
#include "link/station_settings.h"
#include "link/wire_pause.h"
#include "link/wire_trace.h"
#include "support/line_reader.h"
#include "support/pty.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QSignalSpy>
#include <QtTest>

using namespace rava;
using test::LineReader;
using test::Pty;

namespace {

struct Line {
    Pty pty;
    StationSettings settings;
    std::unique_ptr<SerialChannel> channel;
    std::unique_ptr<LineReader> reader;
    LineParams params;

    QTemporaryDir traceDir;

    // `setting` indexes the line-setting list; `read`: a far end that reads.
    Line(int setting, bool slave, bool read = true) {
        WireTrace::restart(traceDir.filePath("trace"));
        qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
        settings.setLineSetting(setting);
        settings.setMode(slave ? Mode::Slave : Mode::Master);
        settings.setRemoteAddress(7);
        channel = std::make_unique<SerialChannel>("MSComm1", "the text channel", 0);
        params = *settings.lineParams();
        channel->setLineParams(params);
        if (read)
            reader = std::make_unique<LineReader>(pty.fd(), characterNs(params));
    }
    ~Line() { WireTrace::restart(QString()); }
    qint64 wireNs(qsizetype bytes) const { return bytes * characterNs(params); }
    // When each write was handed to the channel, from the wire trace.
    QList<qint64> handOversNs() const {
        QFile f(traceDir.filePath("trace"));
        QList<qint64> at;
        for (const QByteArray& l :
             f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QByteArrayList())
            if (l.split(' ').value(2) == "out")
                at << qint64(l.split(' ')[0].toDouble() * 1e6);
        return at;
    }
};

// A text whose lines are `lengths` long, each ending in CR LF.
QByteArray textOf(std::initializer_list<int> lengths) {
    QByteArray text;
    char c = 'a';
    for (int n : lengths) {
        for (int i = 0; i < n; ++i)
            text += char(c + i % 26);
        text += "\r\n";
        c = c == 'z' ? 'a' : char(c + 1);
    }
    return text;
}

QByteArray pictureBytes(int size) {
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + i / 251) & 0xFF);
    return b;
}

// The writes a sender makes of a file: the text's lines or the image stream.
QList<QByteArray> textWrites(const QByteArray& text, bool master) {
    QList<QByteArray> writes;
    for (QByteArray line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        line.chop(1); // the CR
        writes << text::lineOnWire(line, master, 7);
    }
    return writes;
}
QList<QByteArray> imageWrites(const QByteArray& file, bool master) {
    QList<QByteArray> writes{image::headerOnWire(file.size(), master, 7)};
    for (qsizetype at = 0; at < file.size(); at += image::kBlockSize)
        writes << image::blockOnWire(file.mid(at, image::kBlockSize), master, 7);
    return writes;
}

QList<QByteArray> bytesOf(const QList<LineReader::Run>& packets) {
    QList<QByteArray> out;
    for (const auto& p : packets)
        out << p.bytes;
    return out;
}

// A silence shorter than this between two runs joins them into one packet
// for the checks: far below a packet gap (3.6 ms at 9600, 2 ms above), far
// above the reader's own slices.
constexpr qint64 kJoinNs = 1000000;

} // namespace

class WirePacingTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    // Each row: a sender at a line setting; the pause it must keep between
    // the starts of two writes on the line (besides the packet gap).
    void everyWriteIsAPacketOfItsOwn_data() {
        QTest::addColumn<bool>("image");
        QTest::addColumn<int>("setting");
        QTest::addColumn<bool>("slave");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("pauseMs"); // pacing interval or block gap
        QTest::addColumn<int>("lastMs");  // last-block delay
        const QByteArray text = textOf({12, 0, 300, 5, 900, 40, 3});
        QTest::newRow("text 9600 slave") << false << 0 << true << text << 90 << 90;
        QTest::newRow("text 19200 master") << false << 4 << false << text << 50 << 50;
        QTest::newRow("text 57600 master") << false << 7 << false << text << 50 << 50;
        const QByteArray picture = pictureBytes(2000);
        QTest::newRow("image 9600 master") << true << 2 << false << picture << 35 << 90;
        QTest::newRow("image 19200 slave") << true << 3 << true << picture << 30 << 40;
        QTest::newRow("image 57600 master") << true << 8 << false << picture << 25 << 30;
        QTest::newRow("image 115200 slave") << true << 11 << true << picture << 20 << 30;
    }
    void everyWriteIsAPacketOfItsOwn() {
        QFETCH(bool, image);
        QFETCH(int, setting);
        QFETCH(bool, slave);
        QFETCH(QByteArray, file);
        QFETCH(int, pauseMs);
        QFETCH(int, lastMs);
        Line line(setting, slave);
        const QString path = test::writeFile(dir_, image ? "p.bin" : "t.txt", file);
        std::unique_ptr<QObject> sender;
        QList<QByteArray> writes;
        QSignalSpy* done;
        if (image) {
            auto* s = new image::ImageSender(*line.channel, line.settings);
            done = new QSignalSpy(s, &image::ImageSender::finished);
            sender.reset(s);
            QVERIFY(s->send(path));
            writes = imageWrites(file, !slave);
        } else {
            auto* s = new text::TextSender(*line.channel, line.settings);
            done = new QSignalSpy(s, &text::TextSender::finished);
            sender.reset(s);
            QVERIFY(s->send(path));
            writes = textWrites(file, !slave);
        }
        std::unique_ptr<QSignalSpy> spy(done);
        QVERIFY(spy->wait(60000));
        QCOMPARE(spy->first().first().toBool(), true);
        // Finished means on the line: the far end has it all, and the
        // channel holds nothing more.
        const qsizetype total =
            std::accumulate(writes.begin(), writes.end(), qsizetype(0),
                            [](qsizetype n, const QByteArray& w) { return n + w.size(); });
        QTRY_COMPARE_WITH_TIMEOUT(line.reader->size(), total, 2000);
        QVERIFY(!line.channel->isOpen());

        const QList<LineReader::Run> packets = line.reader->packets(kJoinNs);
        if (qEnvironmentVariableIsSet("PACING_DEBUG"))
            for (const auto& r : line.reader->packets(0))
                qDebug("%lld %lld %lld", r.startNs / 1000, r.endNs / 1000, qint64(r.bytes.size()));
        QCOMPARE(bytesOf(packets), writes);
        const qint64 gap = packetGapNs(line.params);
        const QList<qint64> handed = line.handOversNs();
        QCOMPARE(handed.size(), writes.size());
        for (int i = 1; i < packets.size(); ++i) {
            const qint64 silence = packets[i].startNs - packets[i - 1].endNs;
            const qint64 spacing = handed[i] - handed[i - 1];
            // Before an image's last block the block gap and then the
            // last-block delay; else the pacing interval or the block gap.
            const bool last = image && i == packets.size() - 1;
            const qint64 waitNs = qint64(pauseMs + (last ? lastMs : 0)) * 1000000;
            const qint64 needed =
                qMax<qint64>(qint64(pauseMs) * 1000000, line.wireNs(writes[i - 1].size()) + gap) +
                (last ? qint64(lastMs) * 1000000 : 0);
            const QString where = QStringLiteral("write %1: silence %2 us, spacing %3 us")
                                      .arg(i)
                                      .arg(silence / 1000)
                                      .arg(spacing / 1000);
            // A packet gap of silence on the line, less the reader's own
            // scheduling slack.
            QVERIFY2(silence >= gap - 1500000, qPrintable(where));
            // The specified wait counted from the hand-over, and no more than
            // the line needs beside it (plus slack for a busy machine).
            QVERIFY2(spacing >= waitNs, qPrintable(where));
            QVERIFY2(spacing >= needed - 1000000, qPrintable(where));
            QVERIFY2(spacing <= needed + 30000000, qPrintable(where));
        }
    }

    // A second Send while the first still runs is refused, and one right
    // after it ends follows it on the line: nothing of either is lost, and
    // the second's first line does not run into the first's last.
    void sendAgainLosesNothing() {
        Line line(0, true);
        const QByteArray file = textOf({10, 10, 10, 10, 10, 3000});
        const QString path = test::writeFile(dir_, "long.txt", file);
        text::TextSender sender(*line.channel, line.settings);
        QSignalSpy done(&sender, &text::TextSender::finished);
        QVERIFY(sender.send(path));
        QTest::qWait(300);
        QVERIFY(!sender.send(path));
        QVERIFY(done.wait(30000));
        QVERIFY(sender.send(path));
        QVERIFY(done.wait(30000));
        QCOMPARE(done.count(), 2);
        const QList<QByteArray> once = textWrites(file, false);
        QCOMPARE(bytesOf(line.reader->packets(kJoinNs)), once + once);
    }

    // A line that takes nothing: the send ends on its own, saying how many
    // bytes did not leave, and lets the device go.
    void aStalledLineEndsTheSendSayingWhatDidNotLeave_data() {
        QTest::addColumn<bool>("image");
        QTest::newRow("text") << false;
        QTest::newRow("image") << true;
    }
    void aStalledLineEndsTheSendSayingWhatDidNotLeave() {
        QFETCH(bool, image);
        Line line(9, true, false);
        // Far more than the terminal's buffer takes: one long text line, or a
        // picture whose blocks fill it.
        const QByteArray file = image ? pictureBytes(300000) : textOf({200000});
        const QString path = test::writeFile(dir_, "big", file);
        QString detail;
        bool ok = true;
        std::unique_ptr<QObject> sender;
        if (image) {
            image::Timings timings;
            timings.stallMs = 1000;
            auto* s = new image::ImageSender(*line.channel, line.settings, timings);
            connect(s, &image::ImageSender::failed, this,
                    [&](image::SendFailure f, const QString& d) {
                        detail = f == image::SendFailure::NotSent ? d : QStringLiteral("other");
                    });
            connect(s, &image::ImageSender::finished, this, [&](bool r) { ok = r; });
            sender.reset(s);
            QVERIFY(s->send(path));
        } else {
            text::Timings timings;
            timings.stallMs = 1000;
            auto* s = new text::TextSender(*line.channel, line.settings, timings);
            connect(s, &text::TextSender::failed, this, [&](text::SendFailure f, const QString& d) {
                detail = f == text::SendFailure::NotSent ? d : QStringLiteral("other");
            });
            connect(s, &text::TextSender::finished, this, [&](bool r) { ok = r; });
            sender.reset(s);
            QVERIFY(s->send(path));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!detail.isEmpty(), 120000);
        QVERIFY(!ok);
        // What the terminal took is all that ever arrives; the rest is
        // reported as not sent, and dropped rather than sent late.
        QVERIFY(!line.channel->isOpen());
        const QByteArray arrived = line.pty.receive(file.size() + 2, 1500);
        const qint64 unsent = detail.toLongLong();
        QVERIFY2(unsent > 0, qPrintable(detail));
        if (!image) // one write: what arrived and what did not make the line
            QCOMPARE(arrived.size() + unsent, file.size());
        else
            QVERIFY(arrived.size() + unsent <= imageWrites(file, false).join().size());
    }
};

QTEST_MAIN(WirePacingTest)
#include "test_wire_pacing.moc"
