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

    void framerCutsAtTheGapAndTheSizeLimit() {
        Framer f(2 * ms, 4);
        const Bytes a{1, 2, 3, 4, 5, 6, 7, 8};
        f.feed(a.data(), 2, 0);
        f.feed(a.data() + 2, 1, 1 * ms); // within the gap: same packet
        QVERIFY(!f.take(2 * ms));
        QCOMPARE(*f.deadline(), 3 * ms);
        QCOMPARE(*f.take(3 * ms), (Bytes{1, 2, 3}));
        // Asked late: bytes that came after the gap still start a new packet.
        f.feed(a.data() + 3, 1, 10 * ms);
        f.feed(a.data() + 4, 4, 15 * ms);
        QCOMPARE(*f.take(15 * ms), (Bytes{4}));
        QCOMPARE(*f.take(15 * ms), (Bytes{5, 6, 7, 8})); // full: no gap needed
        QVERIFY(!f.take(15 * ms) && !f.deadline());
    }

    void pacerWaitsForTheLineToBeFree() {
        const Nanos c = 10 * kSecond / 9600;
        Pacer p(9600);
        p.push(Bytes{1, 2, 3}, 0);
        QVERIFY(p.take(c - 1).empty());
        QCOMPARE(p.take(c), (Bytes{1}));
        p.push(Bytes{4}, c); // behind 2 and 3
        QCOMPARE(p.take(3 * c), (Bytes{2, 3}));
        QCOMPARE(*p.deadline(), 4 * c);
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
