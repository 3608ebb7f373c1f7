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
