// Framer and pacer timing, which a test through the pseudo-terminals
// cannot pin down to the nanosecond.
#include "args.h"
#include "framer.h"
#include "pacer.h"

#include <QtTest>

using namespace rava::sim;

constexpr Nanos ms = kMillisecond;

class SimPartsTest : public QObject {
    Q_OBJECT
private slots:
    void framerClosesAfterTheGapOnlyOnceTheLineIsIdle() {
        QCOMPARE(frameGap(0, 115200), 2 * ms);            // 0.3 ms, raised to 2 ms
        QCOMPARE(frameGap(0, 9600), 35 * kSecond / 9600); // 3.5 characters
        Framer f(2 * ms, 4);
        const Bytes a{1, 2, 3};
        Packet p;
        f.feed(a.data(), 2, 0);
        f.feed(a.data() + 2, 1, 1 * ms); // within the gap: same packet
        QVERIFY(!f.take(2 * ms, true, p));
        QCOMPARE(*f.deadline(), 3 * ms);
        // Bytes still waiting in the kernel belong to it, however late.
        QVERIFY(!f.take(50 * ms, false, p));
        QVERIFY(f.take(50 * ms, true, p));
        QCOMPARE(p.bytes, a);
        QVERIFY(!f.take(60 * ms, true, p) && !f.deadline());
    }

    // Chunks stamped when they arrived are cut into packets by those
    // stamps, however late the module takes them; one read late marks its
    // packet guessed.
    void intakeFramesByArrivalNotByWhenItIsTaken() {
        const Nanos c = 10 * kSecond / 115200;
        Intake in(115200, 16384);
        Framer f(2 * ms);
        const Bytes block(91, 0x55);
        Intake::Arrival a;
        a.fresh = true;
        a.gap = 2 * ms;
        a.writeGap = 10 * ms;
        const auto fill = [&](Nanos stamp, std::size_t size, Nanos lateness = 0) {
            a.stamp = stamp;
            a.lateness = lateness;
            in.fill(block.data(), size, a);
        };
        fill(0, 91);
        // After silence, read 3 ms late: two writes in it could not be told
        // apart, so its packet is a guess.
        fill(20 * ms, 91, 3 * ms);
        fill(40 * ms, 91);
        fill(40 * ms + 91 * c + 1 * ms, 10); // within the gap: the same packet
        // Faster than the line carries: 3 ms later joins the packet (read
        // 5 ms late, but on a busy line only 10 ms between writes part them),
        // 12 ms later (the line still busy) is another write.
        fill(100 * ms, 91);
        fill(103 * ms, 91, 5 * ms);
        fill(115 * ms, 91);
        std::vector<std::pair<std::size_t, bool>> packets;
        Bytes buf(1024);
        Packet p;
        const auto takeAt = [&](Nanos t) {
            for (;;) {
                const std::size_t n = std::min(in.due(t), buf.size());
                if (n > 0)
                    f.feed(buf.data(), n, in.cursor(), in.take(n, buf.data()));
                if (in.takeWriteEnd())
                    f.endPacket();
                while (f.take(t, !in.busy(), p))
                    packets.emplace_back(p.bytes.size(), p.guessed);
                if (n == 0)
                    return;
            }
        };
        // All of the first three blocks, taken at once 10 ms after the last
        // arrived: the next chunk's silence before it ends the third.
        takeAt(60 * ms);
        QCOMPARE(packets, (std::vector<std::pair<std::size_t, bool>>{
                              {91, false}, {91, true}, {101, false}}));
        takeAt(90 * ms);
        takeAt(200 * ms);
        takeAt(300 * ms);
        QCOMPARE(packets, (std::vector<std::pair<std::size_t, bool>>{
                              {91, false}, {91, true}, {101, false}, {182, false}, {91, false}}));
        QVERIFY(!in.busy() && !f.collecting());
    }

    void pacerReleasesDueBytesTogetherAtTheLineRate() {
        const Nanos c = 10 * kSecond / 115200;
        Pacer p(115200, 1 << 17);
        QVERIFY(p.push(Bytes(20000, 0x55), 0));
        // The first byte exactly when due, then a millisecond's worth per
        // wake-up, the schedule never drifting from the line's.
        QCOMPARE(*p.deadline(), c);
        Nanos t = 0, last = 0;
        std::size_t sent = 0, wakes = 0;
        while (t < kSecond) {
            const std::size_t n = p.due(t);
            p.consume(n);
            sent += n;
            last = t;
            t = *p.deadline();
            QVERIFY(++wakes < 3 || t - last >= kPaceQuantum);
        }
        QCOMPARE(sent, std::size_t(last / c));
        QVERIFY2(wakes <= 1000, qPrintable(QString::number(wakes)));
        // Bytes that came due while the station did not read leave together.
        QCOMPARE(p.due(last + 100 * ms), std::size_t((last + 100 * ms) / c) - sent);
    }
};

QTEST_APPLESS_MAIN(SimPartsTest)
#include "test_sim_parts.moc"
