// The link test's packets, framer, echo and tester on an in-memory channel.
#include "link/line_settings.h"
#include "link_test/echo_responder.h"
#include "link_test/link_tester.h"
#include "link_test/packet_framer.h"
#include "link_test/probe.h"
#include "support/fake_channel.h"

#include <QTimer>
#include <QtTest>
#include <functional>

using namespace rava;
using namespace rava::linktest;
using rava::test::FakeChannel;

namespace {

constexpr qint64 kGapNs = 2000000;

// A far end on an in-memory channel: every packet written comes back after
// `delayMs`, unless `answer` says otherwise (it may drop, change or double
// a packet by returning what comes back).
class LoopChannel : public FakeChannel {
public:
    using FakeChannel::FakeChannel;
    std::function<QList<QByteArray>(int index, const QByteArray&)> answer;
    int delayMs = 2;

    bool write(const QByteArray& bytes) override {
        if (!FakeChannel::write(bytes))
            return false;
        const int index = int(writes.size()) - 1;
        const QList<QByteArray> back = answer ? answer(index, bytes) : QList<QByteArray>{bytes};
        int step = 0;
        for (const QByteArray& b : back)
            QTimer::singleShot(delayMs + 4 * step++, this, [this, b] { inject(b); });
        return true;
    }
};

} // namespace

class LinkTestTest : public QObject {
    Q_OBJECT

private slots:
    // A probe reads back as itself at every size; any single bit flipped,
    // a byte missing or two probes run together never reads as good.
    void probesCarryTheirOwnCheck() {
        for (int size : {kMinProbeSize, 16, 32, 255, 1024}) {
            const QByteArray probe = makeProbe(77, 12345, size);
            QCOMPARE(probe.size(), size);
            const Packet p = parsePacket(probe);
            QCOMPARE(p.kind, Packet::Kind::Probe);
            QCOMPARE(p.run, 77u);
            QCOMPARE(p.seq, 12345u);
            for (int bit = 0; bit < probe.size() * 8; ++bit) {
                QByteArray damaged = probe;
                damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
                QCOMPARE(parsePacket(damaged).kind, Packet::Kind::Damaged);
            }
            QCOMPARE(parsePacket(probe.left(size - 1)).kind, Packet::Kind::Damaged);
            QCOMPARE(parsePacket(probe.mid(1)).kind, Packet::Kind::Damaged);
            QCOMPARE(parsePacket(probe + makeProbe(77, 12346, size)).kind, Packet::Kind::Damaged);
        }
        // The well-known check value of CRC-32.
        QCOMPARE(crc32("123456789"), 0xCBF43926u);
        const Packet answer = parsePacket(makeStatsAnswer(5, {280, 3, 2}));
        QCOMPARE(answer.kind, Packet::Kind::StatsAnswer);
        QCOMPARE(answer.counts.received, 280u);
        QCOMPARE(answer.counts.damaged, 3u);
        QCOMPARE(answer.counts.duplicated, 2u);
        QCOMPARE(parsePacket(makeStatsRequest(5)).kind, Packet::Kind::StatsRequest);
        QVERIFY(isWholePacket("\x07" + makeProbe(1, 2, 40), true));
        QVERIFY(!isWholePacket(makeProbe(1, 2, 40).left(39), false));
    }

    void percentilesByNearestRank() {
        QList<double> v;
        for (int i = 1; i <= 200; ++i)
            v << i;
        QCOMPARE(percentile(v, 0.5), 100.0);
        QCOMPARE(percentile(v, 0.99), 198.0);
        QCOMPARE(percentile({4.0}, 0.99), 4.0);
        QCOMPARE(percentile({}, 0.5), 0.0);
    }

    // Pieces closer than the gap make one packet; a longer silence ends it;
    // a packet the reader knows as whole is cut at once.
    void framerCutsAtTheGap() {
        FakeChannel channel;
        channel.open();
        PacketFramer framer(channel, 20000000); // 20 ms
        QList<QByteArray> packets;
        QList<qint64> cutAt;
        connect(&framer, &PacketFramer::packet, this, [&](const QByteArray& b, qint64) {
            packets << b;
            cutAt << monotonicNs();
        });
        framer.start();
        channel.inject("ab");
        QTest::qWait(5);
        channel.inject("cd");
        const qint64 lastNs = monotonicNs();
        QTRY_COMPARE(packets.size(), 1);
        QCOMPARE(packets[0], QByteArray("abcd"));
        QVERIFY(cutAt[0] - lastNs >= 20000000);
        channel.inject("ef");
        QTRY_COMPARE(packets.size(), 2);
        QCOMPARE(packets[1], QByteArray("ef"));

        framer.setWholeCheck([](const QByteArray& b) { return isWholePacket(b, false); });
        const QByteArray probe = makeProbe(3, 4, 32);
        channel.inject(probe.left(10));
        QCOMPARE(packets.size(), 2);
        channel.inject(probe.mid(10));
        QCOMPARE(packets.size(), 3); // at once, no gap waited for
        QCOMPARE(packets[2], probe);
        framer.stop();
        channel.inject("gh");
        QTest::qWait(40);
        QCOMPARE(packets.size(), 3);
    }

    // The echo sends every packet back as it came, one write each, even
    // when they come faster than it answers; it counts the probes of the
    // latest run and answers that run's stats request with its counts.
    void echoSendsEveryPacketBack() {
        FakeChannel channel;
        EchoResponder echo(channel, kGapNs, true);
        QVERIFY(echo.start(nullptr));
        const QByteArray p1 = "\x07" + makeProbe(9, 1, 24);
        const QByteArray p2 = "\x07" + makeProbe(9, 2, 24);
        QByteArray damaged = p2;
        damaged[10] = char(damaged[10] ^ 0x10);
        channel.inject(p1);
        QTRY_COMPARE(channel.writes.size(), 1);
        channel.inject(p2);
        QTRY_COMPARE(channel.writes.size(), 2);
        channel.inject(p2);
        QTRY_COMPARE(channel.writes.size(), 3);
        channel.inject(damaged);
        QTRY_COMPARE(channel.writes.size(), 4);
        channel.inject("plain bytes");
        QTRY_COMPARE(channel.writes.size(), 5);
        QCOMPARE(channel.writes, (QList<QByteArray>{p1, p2, p2, damaged, "plain bytes"}));
        QCOMPARE(echo.counts().received, 2u);
        QCOMPARE(echo.counts().duplicated, 1u);
        QCOMPARE(echo.counts().damaged, 2u);

        channel.inject("\x07" + makeStatsRequest(9));
        QTRY_COMPARE(channel.writes.size(), 6);
        QCOMPARE(channel.writes[5], "\x07" + makeStatsAnswer(9, {2, 2, 1}));
        // Another run's request gets nothing counted.
        channel.inject("\x07" + makeStatsRequest(10));
        QTRY_COMPARE(channel.writes.size(), 7);
        QCOMPARE(channel.writes[6], "\x07" + makeStatsAnswer(10, {}));
        QCOMPARE(echo.packets(), 7);
    }

    // Lost, damaged and doubled answers are told apart, and the echo's
    // counts come with the result.
    void testerCountsWhatComesBack() {
        LoopChannel channel;
        channel.answer = [](int index, const QByteArray& bytes) -> QList<QByteArray> {
            const Packet p = parsePacket(bytes.mid(1));
            if (p.kind == Packet::Kind::StatsRequest)
                return {bytes.left(1) + makeStatsAnswer(p.run, {45, 0, 0})};
            if (p.seq % 10 == 3)
                return {}; // lost
            if (p.seq == 5) {
                QByteArray bad = bytes;
                bad[8] = char(bad[8] ^ 1);
                return {bad};
            }
            if (p.seq == 7)
                return {bytes, bytes};
            Q_UNUSED(index);
            return {bytes};
        };
        LinkTestConfig config;
        config.count = 50;
        config.size = 20;
        config.timeoutMs = 150;
        config.prefix = "\x07";
        config.addressed = true;
        config.run = 42;
        LinkTester tester(channel, kGapNs, config);
        QSignalSpy finished(&tester, &LinkTester::finished);
        QVERIFY(tester.start(nullptr));
        QVERIFY(finished.wait(20000));
        const LinkTestResult r = tester.result();
        QCOMPARE(r.sent, 50);
        QCOMPARE(r.received, 44); // 5 lost, 1 damaged
        QCOMPARE(r.lost(), 6);
        QCOMPARE(r.damaged, 1);
        QCOMPARE(r.duplicated, 1);
        QCOMPARE(r.rttMs.size(), 44);
        QVERIFY(r.rttMs.first() >= 1.0);
        QVERIFY(r.echo.has_value());
        QCOMPARE(r.echo->received, 45u);
        // Every probe went out as a packet of its own, with the address.
        int probes = 0;
        for (const QByteArray& w : channel.writes) {
            QCOMPARE(w.at(0), '\x07');
            probes += parsePacket(w.mid(1)).kind == Packet::Kind::Probe;
        }
        QCOMPARE(probes, 50);
        QVERIFY(!channel.isOpen());
    }

    // Without an interval a lost probe costs about a round trip, not the
    // timeout; it still counts as lost only at its own timeout, and an
    // answer after that is late.
    void lostProbeCostsARoundTrip() {
        LoopChannel channel;
        channel.delayMs = 5;
        channel.answer = [&channel](int, const QByteArray& bytes) -> QList<QByteArray> {
            const Packet p = parsePacket(bytes);
            if (p.kind == Packet::Kind::StatsRequest)
                return {}; // the echo never tells: three tries, then done
            if (p.seq == 10) {
                // Comes back long after its timeout.
                QTimer::singleShot(400, &channel, [&channel, bytes] { channel.inject(bytes); });
                return {};
            }
            return {bytes};
        };
        LinkTestConfig config;
        config.count = 30;
        config.size = 16;
        config.timeoutMs = 300;
        LinkTester tester(channel, kGapNs, config);
        QSignalSpy finished(&tester, &LinkTester::finished);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(tester.start(nullptr));
        QVERIFY(finished.wait(20000));
        const LinkTestResult r = tester.result();
        QCOMPARE(r.sent, 30);
        QCOMPARE(r.received, 29);
        QCOMPARE(r.late, 1);
        QVERIFY(!r.echo);
        // 29 round trips of ~5 ms, one short wait for the lost probe, its
        // 300 ms timeout and five unanswered stats requests of 300 ms.
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        int requests = 0;
        for (const QByteArray& w : channel.writes)
            requests += parsePacket(w).kind == Packet::Kind::StatsRequest;
        QCOMPARE(requests, LinkTester::kStatsTries);
    }

    // With an interval the probes keep their pace whatever comes back.
    void intervalKeepsThePace() {
        LoopChannel channel;
        channel.answer = [](int, const QByteArray&) { return QList<QByteArray>{}; };
        LinkTestConfig config;
        config.count = 5;
        config.size = 16;
        config.intervalMs = 40;
        config.timeoutMs = 100;
        LinkTester tester(channel, kGapNs, config);
        QSignalSpy finished(&tester, &LinkTester::finished);
        QVERIFY(tester.start(nullptr));
        QVERIFY(finished.wait(5000));
        QCOMPARE(tester.result().lost(), 5);
        for (int i = 1; i < 5; ++i) {
            const qint64 ms = (channel.writtenAtNs[i] - channel.writtenAtNs[i - 1]) / 1000000;
            QVERIFY2(ms >= 40 && ms < 80, qPrintable(QString::number(ms)));
        }
    }

    void refusedOpenAndLostDevice() {
        FakeChannel channel;
        channel.failOpen = true;
        LinkTester tester(channel, kGapNs, LinkTestConfig());
        QString error;
        QVERIFY(!tester.start(&error));
        QCOMPARE(error, channel.failReason);
        channel.failOpen = false;
        QSignalSpy failed(&tester, &LinkTester::failed);
        QVERIFY(tester.start(&error));
        emit channel.lost(QStringLiteral("gone"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].toString(), QStringLiteral("gone"));
        QVERIFY(!tester.isRunning());
    }
};

QTEST_MAIN(LinkTestTest)
#include "test_link_test.moc"
