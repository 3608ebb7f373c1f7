// The simulator's pure parts: argument checks, framing, routing, registers,
// pacing, console lines, trace lines, line settings and faults.
#include "args.h"
#include "console.h"
#include "faults.h"
#include "framer.h"
#include "line.h"
#include "pacer.h"
#include "registers.h"
#include "router.h"
#include "trace.h"

#include <QtTest>

using namespace rava::sim;

namespace {

constexpr Nanos ms = kMillisecond;

ParseResult parse(std::initializer_list<const char*> args) {
    return parseArguments(std::vector<std::string>(args.begin(), args.end()));
}

Bytes bytes(std::initializer_list<int> values) {
    Bytes b;
    for (int v : values)
        b.push_back(std::uint8_t(v));
    return b;
}

} // namespace

class SimPartsTest : public QObject {
    Q_OBJECT
private slots:
    void argumentsDescribeModules() {
        const auto r = parse({"--dir", "/tmp", "--baud", "9600", "--parity=odd", "M=master:0",
                              "S=slave:255@57600", "P=prog:7", "--loss", "0.25", "--no-pacing",
                              "--seed", "42", "--trace", "-", "--frame-gap", "5"});
        QVERIFY2(r.ok(), r.error.c_str());
        const Options& o = r.options;
        QCOMPARE(o.dir, std::string("/tmp"));
        QCOMPARE(o.baud, 9600);
        QVERIFY(o.parity == Parity::Odd);
        QCOMPARE(o.loss, 0.25);
        QVERIFY(!o.pacing);
        QCOMPARE(o.seed, std::uint64_t(42));
        QCOMPARE(o.trace, std::string("-"));
        QCOMPARE(o.frameGapMs, 5.0);
        QCOMPARE(o.modules.size(), size_t(3));
        QVERIFY(o.modules[0].role == Role::Master && !o.modules[0].programming);
        QCOMPARE(o.modules[1].address, 255);
        QCOMPARE(o.modules[1].baud, 57600);
        QCOMPARE(o.modules[0].baud, 0); // takes --baud
        QVERIFY(o.modules[2].role == Role::Slave && o.modules[2].programming);
        QCOMPARE(o.modules[2].address, 7);
    }

    void badArgumentsAreRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        const QStringList ok{"--dir", "/tmp"};
        QTest::newRow("no dir") << QStringList{"M=master:0"} << "--dir";
        QTest::newRow("no modules") << ok << "no modules";
        QTest::newRow("address 256") << ok + QStringList{"M=master:256"} << "0 to 255";

        QTest::newRow("address not a number") << ok + QStringList{"M=master:x"} << "0 to 255";
        QTest::newRow("unknown role") << ok + QStringList{"M=boss:1"} << "unknown role";

        QTest::newRow("no name") << ok + QStringList{"=slave:1"} << "name";
        QTest::newRow("slash in name") << ok + QStringList{"a/b=slave:1"} << "name";

        QTest::newRow("duplicate name")
            << ok + QStringList{"A=master:1", "A=slave:2"} << "given twice";
        QTest::newRow("two slaves one address")
            << ok + QStringList{"A=slave:4", "B=slave:4"} << "address 4";
        QTest::newRow("prog and slave one address")
            << ok + QStringList{"A=prog:4", "B=slave:4"} << "address 4";
        QTest::newRow("bad module baud") << ok + QStringList{"A=slave:4@1234"} << "baud";
        QTest::newRow("bad baud") << ok + QStringList{"--baud", "0", "A=slave:4"} << "--baud";
        QTest::newRow("loss above 1") << ok + QStringList{"--loss", "1.5", "A=slave:4"} << "--loss";

        QTest::newRow("zero frame gap")
            << ok + QStringList{"--frame-gap", "0", "A=slave:4"} << "--frame-gap";

        QTest::newRow("bad parity")
            << ok + QStringList{"--parity", "mark", "A=slave:4"} << "--parity";
        QTest::newRow("unknown option") << ok + QStringList{"--fast", "A=slave:4"} << "--fast";
        QTest::newRow("flag with value")
            << ok + QStringList{"--no-pacing=1", "A=slave:4"} << "no value";
    }
    void badArgumentsAreRefused() {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        std::vector<std::string> v;
        for (const auto& a : args)
            v.push_back(a.toStdString());
        const auto r = parseArguments(v);
        QVERIFY(!r.ok());
        QVERIFY2(QString::fromStdString(r.error).contains(mentions), r.error.c_str());
    }

    void mastersMayShareAnAddress() {
        const auto r = parse({"--dir", "d", "A=master:0", "B=master:0", "C=slave:0"});
        QVERIFY2(r.ok(), r.error.c_str());
    }

    void frameGapFollowsTheBaudRate() {
        QCOMPARE(frameGap(0, 115200), 2 * ms);            // 0.3 ms, raised to 2 ms
        QCOMPARE(frameGap(0, 9600), 35 * kSecond / 9600); // 3.5 characters: 3.65 ms
        QCOMPARE(frameGap(0, 1200), 35 * kSecond / 1200);
        QCOMPARE(frameGap(0.5, 1200), ms / 2); // given: used as is
    }

    void framerCutsAtTheGap() {
        Framer f(2 * ms);
        const Bytes a = bytes({1, 2, 3});
        f.feed(a.data(), 2, 0);
        f.feed(a.data() + 2, 1, 1 * ms); // within the gap: same packet
        QVERIFY(!f.take(2 * ms));        // 1 ms of silence so far
        QCOMPARE(*f.deadline(), 3 * ms);
        QCOMPARE(*f.take(3 * ms), bytes({1, 2, 3}));
        QVERIFY(!f.take(10 * ms));
        QVERIFY(!f.deadline());
    }

    void framerSeparatesBytesThatCameAfterTheGap() {
        // The loop may be late to ask: bytes after the gap still start a new packet.
        Framer f(2 * ms);
        const Bytes a = bytes({1, 2});
        f.feed(a.data(), 1, 0);
        f.feed(a.data() + 1, 1, 5 * ms);
        QCOMPARE(*f.take(20 * ms), bytes({1}));
        QCOMPARE(*f.take(20 * ms), bytes({2}));
        QVERIFY(!f.take(20 * ms));
    }

    void framerClosesFullPackets() {
        Framer f(2 * ms, 4);
        const Bytes a = bytes({1, 2, 3, 4, 5, 6});
        f.feed(a.data(), a.size(), 0);
        QCOMPARE(*f.take(0), bytes({1, 2, 3, 4})); // at once, no gap needed
        QVERIFY(!f.take(1 * ms));
        QCOMPARE(*f.take(2 * ms), bytes({5, 6}));
    }

    void masterPacketsGoToTheAddressedSlave() {
        const std::vector<Station> s{
            {Role::Master, 0, false}, {Role::Slave, 7, false}, {Role::Slave, 9, false}};
        Route r = route(s, 0, bytes({7, 'h', 'i'}));
        QCOMPARE(r.deliveries.size(), size_t(1));
        QCOMPARE(r.deliveries[0].to, size_t(1));
        QCOMPARE(r.deliveries[0].bytes, bytes({'h', 'i'}));

        r = route(s, 0, bytes({8, 'h'}));
        QVERIFY(r.deliveries.empty());
        QVERIFY(r.reason == Unrouted::NoModule);

        r = route(s, 0, bytes({7}));
        QVERIFY(r.deliveries.empty());
        QVERIFY(r.reason == Unrouted::Empty);
    }

    void slavePacketsGoToEveryMasterWithTheSlaveAddress() {
        const std::vector<Station> s{{Role::Master, 0, false},
                                     {Role::Slave, 200, false},
                                     {Role::Master, 3, false},
                                     {Role::Slave, 4, false}};
        const Route r = route(s, 1, bytes({0xff, 0}));
        QCOMPARE(r.deliveries.size(), size_t(2));
        QCOMPARE(r.deliveries[0].to, size_t(0));
        QCOMPARE(r.deliveries[1].to, size_t(2));
        for (const auto& d : r.deliveries)
            QCOMPARE(d.bytes, bytes({200, 0xff, 0}));
        // Slaves do not hear each other.
        const std::vector<Station> noMaster{{Role::Slave, 1, false}, {Role::Slave, 2, false}};
        QVERIFY(route(noMaster, 0, bytes({1})).reason == Unrouted::NoModule);
    }

    void modulesInProgrammingModeReceiveNothing() {
        const std::vector<Station> s{{Role::Master, 0, true}, {Role::Slave, 7, true}};
        QVERIFY(route(s, 0, bytes({7, 1})).reason == Unrouted::Programming);
        QVERIFY(route(s, 1, bytes({1})).reason == Unrouted::Programming);
    }

    void registersAnswerReadsAndStoreWrites() {
        RegisterFile file(7, Parity::None);
        RegisterProtocol p;
        QCOMPARE(p.feed(bytes({0x24, 0}), 0, file), bytes({7}));
        QCOMPARE(p.feed(bytes({0x24, 3}), 0, file), bytes({0}));
        QCOMPARE(p.feed(bytes({0x23, 0, 42}), 0, file), Bytes{}); // no answer to a write
        QCOMPARE(file.get(0), std::uint8_t(42));
        // Several requests in one packet, replies in order; other bytes ignored.
        QCOMPARE(p.feed(bytes({'x', 0x23, 3, 1, 0x24, 3, 0x24, 0, 0x24, 0x24}), 0, file),
                 bytes({1, 42, 0}));
        QCOMPARE(file.get(3), std::uint8_t(1));
        QCOMPARE(RegisterFile(1, Parity::Even).get(3), std::uint8_t(3));
    }

    void registerRequestsMaySpanPacketsButExpire() {
        RegisterFile file(5, Parity::None);
        RegisterProtocol p(500 * ms);
        QCOMPARE(p.feed(bytes({0x23}), 0, file), Bytes{});
        QCOMPARE(p.feed(bytes({0}), 100 * ms, file), Bytes{});
        QCOMPARE(p.feed(bytes({9, 0x24}), 200 * ms, file), Bytes{});
        QCOMPARE(file.get(0), std::uint8_t(9));
        QCOMPARE(p.feed(bytes({0}), 300 * ms, file), bytes({9}));
        // A lone '#' followed a second later by a read: the read still works.
        QCOMPARE(p.feed(bytes({0x23}), 1000 * ms, file), Bytes{});
        QCOMPARE(p.feed(bytes({0x24, 0}), 2000 * ms, file), bytes({9}));
        QCOMPARE(file.get(0x24), std::uint8_t(0));
    }

    void parityRegisterValues() {
        QVERIFY(parityFromRegister(0) == Parity::None);
        QVERIFY(parityFromRegister(1) == Parity::Odd);
        QVERIFY(parityFromRegister(2) == Parity::None);
        QVERIFY(parityFromRegister(3) == Parity::Even);
        QVERIFY(parityFromRegister(0xff) == Parity::Even);
        for (Parity p : {Parity::None, Parity::Odd, Parity::Even})
            QVERIFY(parityFromRegister(parityRegisterValue(p)) == p);
    }

    void pacerKeepsToTheLineSpeed() {
        Pacer p(9600); // 1.0417 ms a byte
        const Nanos c = 10 * kSecond / 9600;
        p.push(bytes({1, 2, 3}), 0);
        QVERIFY(p.take(c - 1).empty()); // the first byte is not through yet
        QCOMPARE(p.take(c), bytes({1}));
        QCOMPARE(*p.deadline(), 2 * c);
        QCOMPARE(p.take(3 * c), bytes({2, 3}));
        QVERIFY(!p.deadline());
        // A later packet waits for the line to be free, and for its own time.
        p.push(bytes({4}), 10 * c);
        p.push(bytes({5}), 10 * c);
        QCOMPARE(p.take(11 * c), bytes({4}));
        QCOMPARE(*p.deadline(), 12 * c);
    }

    void pacerWithoutBaudDeliversAtOnce() {
        Pacer p(0);
        p.push(bytes({1, 2}), 5 * ms); // latency still holds
        QVERIFY(p.take(5 * ms - 1).empty());
        QCOMPARE(p.take(5 * ms), bytes({1, 2}));
    }

    void consoleLines_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("good");
        QTest::newRow("prog on") << "prog P on" << true;
        QTest::newRow("prog off, tabs, CR") << "\tprog  P\toff\r" << true;
        QTest::newRow("prog maybe") << "prog P maybe" << false;

        QTest::newRow("baud") << "baud S 9600" << true;
        QTest::newRow("baud odd number") << "baud S 9601" << false;

        QTest::newRow("loss") << "loss 0.5" << true;
        QTest::newRow("loss too big") << "loss 2" << false;

        QTest::newRow("latency") << "latency 12.5" << true;
        QTest::newRow("latency extra") << "latency 1 2" << false;
        QTest::newRow("stats") << "stats" << true;

        QTest::newRow("unknown") << "reboot" << false;
        QTest::newRow("blank") << "   " << true;
    }
    void consoleLines() {
        QFETCH(QString, line);
        QFETCH(bool, good);
        const auto p = parseCommand(line.toStdString());
        QCOMPARE(p.error.empty(), good);
    }

    void consoleCommandsCarryTheirValues() {
        auto c = parseCommand("prog P2 off").command;
        QVERIFY(c.kind == Command::Kind::Prog && c.module == "P2" && !c.on);
        c = parseCommand("baud S 19200").command;
        QVERIFY(c.kind == Command::Kind::Baud && c.module == "S" && c.baud == 19200);
        c = parseCommand("corrupt 0.125").command;
        QVERIFY(c.kind == Command::Kind::Corrupt && c.value == 0.125);
        QVERIFY(parseCommand("").command.kind == Command::Kind::None);
    }

    void traceLines() {
        QCOMPARE(formatTrace(1234567, "M", "S", bytes({7, 0xff, 0})),
                 std::string("1.234 M S 3 07ff00"));
        QCOMPARE(formatTrace(12 * kSecond + 5000, "S", "", bytes({0x0a}), "lost:M"),
                 std::string("12000.005 S - 1 0a lost:M"));
        QCOMPARE(formatTrace(0, "P", "", Bytes{}, "register"),
                 std::string("0.000 P - 0 - register"));
    }

    void stationSettingIsReadFromTheParityMarks() {
        termios t{};
        cfsetospeed(&t, B19200);
        QVERIFY(stationSetting(t) == (LineSetting{19200, Parity::None}));
        t.c_cflag |= PARODD; // odd chosen, but checking off: no parity
        QVERIFY(stationSetting(t).parity == Parity::None);
        t.c_iflag |= INPCK;
        QVERIFY(stationSetting(t).parity == Parity::Odd);
        t.c_cflag &= ~tcflag_t(PARODD | PARENB); // the driver clears PARENB
        QVERIFY(stationSetting(t).parity == Parity::Even);
        for (const LineSetting s :
             {LineSetting{9600, Parity::Even}, LineSetting{115200, Parity::Odd},
              LineSetting{57600, Parity::None}}) {
            termios u{};
            applySetting(u, s);
            QVERIFY(stationSetting(u) == s);
        }
        cfsetospeed(&t, B0);
        QCOMPARE(stationSetting(t).baud, 0);
    }

    void garbleChangesEveryByteTheSameWayForAKey() {
        const auto key = garbleKey(1, {9600, Parity::None}, {115200, Parity::None});
        const auto other = garbleKey(1, {115200, Parity::Odd}, {115200, Parity::None});
        QVERIFY(key != other);
        int differs = 0;
        for (int b = 0; b < 256; ++b) {
            const auto g = garble(std::uint8_t(b), key);
            QVERIFY(g != b);
            QCOMPARE(garble(std::uint8_t(b), key), g);
            differs += garble(std::uint8_t(b), other) != g;
        }
        QVERIFY(differs > 128);
    }

    void faultsFollowTheirProbabilities() {
        Faults f(7);
        f.loss = 0.3;
        int lost = 0;
        for (int i = 0; i < 20000; ++i)
            lost += f.lose();
        QVERIFY2(lost > 5400 && lost < 6600, qPrintable(QString::number(lost)));

        f.corrupt = 0.1;
        Bytes data(20000, 0x55);
        const int n = f.damage(data);
        int changed = 0;
        for (auto b : data) {
            changed += b != 0x55;
            if (b != 0x55)
                QCOMPARE(__builtin_popcount(unsigned(b ^ 0x55)), 1); // one bit flipped
        }
        QCOMPARE(changed, n);
        QVERIFY2(n > 1600 && n < 2400, qPrintable(QString::number(n)));

        f.loss = 0;
        f.corrupt = 0;
        Bytes clean(100, 1);
        QCOMPARE(f.damage(clean), 0);
        QVERIFY(!f.lose());
    }

    void faultsRepeatForASeed() {
        auto run = [](std::uint64_t seed) {
            Faults f(seed);
            f.loss = 0.5;
            f.corrupt = 0.2;
            Bytes out;
            for (int i = 0; i < 50; ++i) {
                Bytes b(8, std::uint8_t(i));
                out.push_back(f.lose());
                f.damage(b);
                out.insert(out.end(), b.begin(), b.end());
            }
            return out;
        };
        QCOMPARE(run(3), run(3));
        QVERIFY(run(3) != run(4));
    }
};

QTEST_APPLESS_MAIN(SimPartsTest)
#include "test_sim_parts.moc"
