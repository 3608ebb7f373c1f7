// Pure pieces of the simulator, where timing or termios marks decide what a
// test through the pseudo-terminals cannot pin down.
#include "args.h"
#include "framer.h"
#include "line.h"
#include "pacer.h"
#include "registers.h"

#include <QtTest>

using namespace rava::sim;

constexpr Nanos ms = kMillisecond;

class SimPartsTest : public QObject {
    Q_OBJECT
private slots:
    void frameGapFollowsTheBaudRate() {
        QCOMPARE(frameGap(0, 115200), 2 * ms);            // 0.3 ms, raised to 2 ms
        QCOMPARE(frameGap(0, 9600), 35 * kSecond / 9600); // 3.5 characters
        QCOMPARE(frameGap(0.5, 1200), ms / 2);            // given: used as is
    }

    void framerClosesAfterTheGapOnlyOnceTheLineIsIdle() {
        Framer f(2 * ms, 4);
        const Bytes a{1, 2, 3, 4, 5, 6, 7, 8};
        Packet p;
        f.feed(a.data(), 2, 0);
        f.feed(a.data() + 2, 1, 1 * ms); // within the gap: same packet
        QVERIFY(!f.take(2 * ms, true, p));
        QCOMPARE(*f.deadline(), 3 * ms);
        // Bytes still waiting in the kernel belong to it, however late.
        QVERIFY(!f.take(50 * ms, false, p));
        QVERIFY(f.take(50 * ms, true, p));
        QCOMPARE(p.bytes, (Bytes{1, 2, 3}));
        QVERIFY(!p.oversize && !p.cut && p.length == 3);
        QVERIFY(!f.take(60 * ms, true, p) && !f.deadline());
    }

    void framerDropsOrCutsWhatExceedsTheBound() {
        const Bytes a{1, 2, 3, 4, 5, 6, 7, 8};
        Packet p;
        // A master's run: one oversize packet up to the gap, its head kept.
        Framer drop(2 * ms, 4, Framer::Overflow::Drop);
        drop.feed(a.data(), 3, 0);
        drop.feed(a.data() + 3, 5, 1 * ms);
        QVERIFY(!drop.take(2 * ms, true, p));
        QVERIFY(drop.take(3 * ms, true, p));
        QVERIFY(p.oversize && p.length == 8);
        QCOMPARE(p.bytes, (Bytes{1, 2, 3, 4}));
        // Exactly the bound is not over it.
        drop.feed(a.data(), 4, 10 * ms);
        QVERIFY(drop.take(12 * ms, true, p) && !p.oversize && p.length == 4);

        // A slave's run: closed at the bound at once, the rest goes on.
        Framer cut(2 * ms, 4, Framer::Overflow::Cut);
        QCOMPARE(cut.room(), std::size_t(4));
        cut.feed(a.data(), 3, 0);
        QCOMPARE(cut.room(), std::size_t(1));
        cut.feed(a.data() + 3, 1, 1 * ms);
        QCOMPARE(cut.room(), std::size_t(0));
        QVERIFY(cut.take(1 * ms, false, p));
        QVERIFY(p.cut && !p.oversize);
        QCOMPARE(p.bytes, (Bytes{1, 2, 3, 4}));
        cut.feed(a.data() + 4, 4, 2 * ms);
        QVERIFY(cut.take(2 * ms, false, p));
        QCOMPARE(p.bytes, (Bytes{5, 6, 7, 8}));
    }

    void pacerReleasesDueBytesTogetherAtTheLineRate() {
        const Nanos c = 10 * kSecond / 115200;
        Pacer p(115200, 1 << 17);
        Bytes data(20000, 0x55);
        QVERIFY(p.push(data, 0));
        // The first byte exactly when due, then a millisecond's worth per
        // wake-up, the schedule never drifting from the line's.
        QCOMPARE(*p.deadline(), c);
        QCOMPARE(p.due(c - 1), std::size_t(0));
        Nanos t = 0, last = 0;
        std::size_t sent = 0, wakes = 0;
        while (t < kSecond) {
            const std::size_t n = p.due(t);
            p.consume(n);
            sent += n;
            last = t;
            ++wakes;
            t = *p.deadline();
            QVERIFY(wakes < 3 || t - last >= kPaceQuantum);
        }
        // Every byte due by the last wake-up went, no more.
        QVERIFY(last >= kSecond - 2 * kPaceQuantum);
        QCOMPARE(sent, std::size_t(last / c));
        QVERIFY2(wakes <= 1000, qPrintable(QString::number(wakes)));
        // Bytes that came due while the station did not read leave together.
        QCOMPARE(p.due(last + 100 * ms), std::size_t((last + 100 * ms) / c) - sent);
    }

    void pacerHoldsAtMostItsBoundAndStartsPacketsWhenAvailable() {
        const Nanos c = 10 * kSecond / 9600;
        Pacer p(9600, 8);
        QVERIFY(p.push(Bytes{1, 2, 3, 4, 5, 6}, 0));
        QVERIFY(!p.push(Bytes{7, 8, 9}, 0)); // does not fit whole: nothing taken
        QCOMPARE(p.size(), std::size_t(6));
        const std::uint8_t address = 7;
        QVERIFY(p.push(&address, 1, Bytes{9}.data(), 1, 100 * c));
        QCOMPARE(p.room(), std::size_t(0));
        QCOMPARE(p.due(6 * c), std::size_t(6));
        Pacer::Pieces got = p.peek(6);
        QCOMPARE(Bytes(got.first, got.first + got.firstSize), (Bytes{1, 2, 3, 4, 5, 6}));
        p.consume(6);
        // The next packet starts when it is available, not behind the last.
        QCOMPARE(*p.deadline(), 101 * c);
        QCOMPARE(p.due(102 * c), std::size_t(2));
        QVERIFY(p.push(Bytes(6, 1), 0)); // wraps around the ring
        got = p.peek(8);
        QCOMPARE(got.firstSize + got.secondSize, std::size_t(8));
        QCOMPARE(got.first[0], std::uint8_t(7));
        QCOMPARE(p.clear(), std::size_t(8));
        QVERIFY(p.empty() && !p.deadline());
    }

    void intakeHandsOnNoMoreThanTheLineCarries() {
        const Nanos c = 10 * kSecond / 115200;
        Intake in(115200, 64);
        QVERIFY(!in.busy() && !in.deadline());
        in.start(10 * ms);
        const Bytes data(100, 0x33);
        in.fill(data.data(), data.size()); // the receive buffer takes 64
        QCOMPARE(in.buffered(), std::size_t(64));
        QCOMPARE(in.room(), std::size_t(0));
        QCOMPARE(in.due(10 * ms), std::size_t(0));
        QCOMPARE(in.due(10 * ms + ms), std::size_t(ms / c));
        std::uint8_t out[64];
        in.take(5, out, 11 * ms);
        QCOMPARE(in.cursor(), 10 * ms + 5 * c);
        QCOMPARE(in.room(), std::size_t(5));
        // Busy lines look again on the shared ticks, where a byte is due.
        QCOMPARE(*in.deadline(), paceTick(10 * ms + 6 * c));
        QCOMPARE(*in.deadline() % kPaceQuantum, Nanos(0));
        // Idle only once the buffer is empty and the kernel had nothing.
        in.kernelEmpty();
        QVERIFY(in.busy());
        in.take(59, out, 20 * ms);
        QVERIFY(!in.busy() && !in.deadline());
        // After the module stopped taking bytes, the line starts again.
        in.start(30 * ms);
        in.fill(data.data(), 3);
        in.resume(500 * ms);
        QCOMPARE(in.due(500 * ms), std::size_t(0));
        QCOMPARE(in.due(500 * ms + 3 * c), std::size_t(3));
        // A pause the module watched for keeps writes apart on a busy line;
        // not one after the buffer was full (the module stopped reading).
        Intake busy(115200, 8);
        busy.start(0);
        busy.fill(data.data(), 3, 0, 10 * ms);
        busy.kernelEmpty();
        busy.fill(data.data(), 2, 5 * ms, 10 * ms); // too soon: the same write
        busy.kernelEmpty();
        busy.fill(data.data(), 3, 20 * ms, 10 * ms); // the next write, now full
        QCOMPARE(busy.untilWrite(), std::size_t(5));
        QCOMPARE(busy.due(kSecond), std::size_t(5));
        busy.take(5, out, kSecond);
        QVERIFY(busy.takeWriteEnd() && !busy.takeWriteEnd());
        QCOMPARE(busy.due(kSecond), std::size_t(3));
        busy.kernelEmpty();
        busy.take(1, out, kSecond);
        busy.fill(data.data(), 1, 40 * ms, 10 * ms); // after a full buffer
        QCOMPARE(busy.untilWrite(), std::size_t(3));
        Intake unpaced(0, 64);
        unpaced.start(0);
        unpaced.fill(data.data(), 10);
        QCOMPARE(unpaced.due(0), std::size_t(10));
    }

    void registerRequestsMaySpanPacketsButExpire() {
        RegisterFile file(5, Parity::None);
        RegisterProtocol p(500 * ms);
        QCOMPARE(p.feed(Bytes{0x23}, 0, file), Bytes{});
        QCOMPARE(p.feed(Bytes{0}, 100 * ms, file), Bytes{});
        QCOMPARE(p.feed(Bytes{9, 0x24}, 200 * ms, file), Bytes{});
        QCOMPARE(p.feed(Bytes{0}, 300 * ms, file), (Bytes{9}));
        // A lone '#' followed a second later by a read: the read still works.
        QCOMPARE(p.feed(Bytes{0x23}, 1000 * ms, file), Bytes{});
        QCOMPARE(p.feed(Bytes{0x24, 0}, 2000 * ms, file), (Bytes{9}));
        QCOMPARE(file.get(0x24), std::uint8_t(0));
    }

    void parityIsReadFromTheMarksAndTheRegister() {
        termios t{};
        cfsetospeed(&t, B19200);
        t.c_cflag |= PARODD; // odd chosen, but checking off: no parity
        QVERIFY(stationSetting(t) == (LineSetting{19200, Parity::None}));
        t.c_iflag |= INPCK;
        QVERIFY(stationSetting(t).parity == Parity::Odd);
        t.c_cflag &= ~tcflag_t(PARODD | PARENB); // the driver clears PARENB
        QVERIFY(stationSetting(t).parity == Parity::Even);
        // Bit 0 switches parity on, bit 1 picks even, the rest is ignored.
        QVERIFY(parityFromRegister(2) == Parity::None);
        QVERIFY(parityFromRegister(0xfd) == Parity::Odd);
        QVERIFY(parityFromRegister(0xff) == Parity::Even);
    }
};

QTEST_APPLESS_MAIN(SimPartsTest)
#include "test_sim_parts.moc"
