// The simulator between stations that use the project's own serial channel.
#include "sim_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <csignal>

using namespace rava;
using namespace rava::test;

namespace {

QByteArray range(int from, int to) {
    QByteArray b;
    for (int i = from; i < to; ++i)
        b.append(char(i));
    return b;
}

QByteArray withAddress(int address, const QByteArray& payload) {
    return QByteArray(1, char(address)) + payload;
}

// Trace fields: time, from, to, length, hex, note.
QStringList fields(const QString& line) {
    return line.split(QLatin1Char(' '));
}

QStringList withoutTimes(const QStringList& lines) {
    QStringList out;
    for (const QString& l : lines)
        out << fields(l).mid(1).join(QLatin1Char(' '));
    return out;
}

// Writes one packet and waits until the simulator has traced it, so that
// the next write cannot join it even if the simulator is slow to read.
bool sendPacket(SimProcess& sim, Channel& station, const QByteArray& bytes) {
    const int before = int(sim.trace().size());
    return station.write(bytes) && sim.waitTrace(before + 1).size() > before;
}

// CPU time (user + system) of a process, in clock ticks.
long cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> parts = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return parts.size() > 12 ? parts[11].toLong() + parts[12].toLong() : -1;
}

} // namespace

class SimRelayTest : public QObject {
    Q_OBJECT
private slots:
    void masterReachesTheAddressedSlaveWithBoundariesKept() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7", "T=slave:8"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"));
        auto other = openStation(3, sim.linkPath("T"));
        QVERIFY(master && slave && other);
        QVERIFY(sim.waitStations({"M", "S", "T"}));

        // Every byte value, in four packets with pauses between them: each
        // packet loses exactly its own first byte, so a merged packet would
        // leave an address byte in the middle.
        for (int i = 0; i < 4; ++i) {
            QVERIFY(sendPacket(sim, *master, withAddress(7, range(i * 64, i * 64 + 64))));
        }
        QCOMPARE(receive(*slave, 256), range(0, 256));
        const QStringList lines = sim.waitTrace(4);
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const QStringList f = fields(lines[i]);
            QCOMPARE(f.mid(1, 3), (QStringList{"M", "S", "64"}));
            QCOMPARE(f[4], QString::fromLatin1(range(i * 64, i * 64 + 64).toHex()));
        }
        QVERIFY(receive(*other, 0, 100).isEmpty());
    }

    void slaveReachesTheMasterWithItsAddressInFront() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:200"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"));
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));

        QByteArray expected;
        for (int i = 0; i < 4; ++i) {
            const QByteArray payload = range(i * 64, i * 64 + 64);
            QVERIFY(sendPacket(sim, *slave, payload));
            expected += withAddress(200, payload);
        }
        QCOMPARE(receive(*master, expected.size()), expected);
        const QStringList lines = sim.waitTrace(4);
        QCOMPARE(lines.size(), 4);
        for (const QString& l : lines)
            QCOMPARE(fields(l).mid(1, 3), (QStringList{"S", "M", "65"}));
    }

    void packetsForNobodyAreDropped() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"));
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));

        QVERIFY(sendPacket(sim, *master, withAddress(9, "abc")));
        QVERIFY(sendPacket(sim, *master, QByteArray(1, 7))); // an address without a payload
        QVERIFY(master->write(withAddress(7, "ok")));
        QCOMPARE(receive(*slave, 2), QByteArray("ok"));
        QVERIFY(receive(*slave, 0, 100).isEmpty());
        const QStringList lines = withoutTimes(sim.waitTrace(3));
        QCOMPARE(lines, (QStringList{"M - 4 09616263 unrouted", "M - 1 07 empty", "M S 2 6f6b"}));
        QVERIFY(sim.stats("M").contains(" dropped=2 "));
    }

    void registersAreReadAndWrittenInProgrammingMode() {
        SimProcess sim({"--no-pacing", "M=master:0", "P=prog:5"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto prog = openStation(2, sim.linkPath("P"));
        QVERIFY(master && prog);
        QVERIFY(sim.waitStations({"M", "P"}));

        QVERIFY(prog->write("$" + QByteArray(1, 0)));
        QCOMPARE(receive(*prog, 1), QByteArray(1, 5));
        QVERIFY(prog->write("$\x03"));
        QCOMPARE(receive(*prog, 1), QByteArray(1, 0));
        // A write is not answered; the read-back sees the new value.
        QVERIFY(prog->write("#" + QByteArray(1, 0) + "\x09"));
        QVERIFY(receive(*prog, 0, 150).isEmpty());
        // Two requests in one write, then one split over two writes.
        QVERIFY(prog->write("$" + QByteArray(1, 0) + "$\x03"));
        QCOMPARE(receive(*prog, 2), QByteArray("\x09" + QByteArray(1, 0)));
        QVERIFY(sendPacket(sim, *prog, "$"));
        QVERIFY(prog->write(QByteArray(1, 0)));
        QCOMPARE(receive(*prog, 1), QByteArray("\x09"));

        // In programming mode the module relays nothing, and the new
        // address is not used yet.
        QVERIFY(sendPacket(sim, *master, withAddress(5, "hi")));
        QVERIFY(sendPacket(sim, *master, withAddress(9, "hi")));
        QVERIFY(receive(*prog, 0, 150).isEmpty());
        QVERIFY(prog->write("hello"));
        QVERIFY(receive(*master, 0, 150).isEmpty());

        QCOMPARE(sim.command("prog P off"), QString("ok prog P off address=9 parity=none"));
        QVERIFY(sendPacket(sim, *master, withAddress(5, "old")));
        QVERIFY(master->write(withAddress(9, "new")));
        QCOMPARE(receive(*prog, 3), QByteArray("new"));
        QVERIFY(prog->write("up"));
        QCOMPARE(receive(*master, 3), withAddress(9, "up"));
        // Out of programming mode, register requests are ordinary payload.
        QVERIFY(prog->write("$" + QByteArray(1, 0)));
        QCOMPARE(receive(*master, 3), QByteArray("\x09$" + QByteArray(1, 0)));
        QVERIFY(receive(*prog, 0, 100).isEmpty());

        QStringList notes;
        for (const QString& l : sim.trace())
            notes << fields(l).value(5);
        QVERIFY(notes.contains("register"));
        QVERIFY(notes.contains("reply"));
        QCOMPARE(notes.count("programming"), 1); // to P's old address while programming
        QCOMPARE(notes.count("unrouted"), 2);    // the new address too early, the old one late
    }

    void parityRegisterSetsTheLineAfterProgramming() {
        SimProcess sim({"--no-pacing", "M=master:0", "P=prog:5"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto prog = openStation(2, sim.linkPath("P"));
        QVERIFY(master && prog);
        QVERIFY(sim.waitStations({"M", "P"}));
        QVERIFY(prog->write("#\x03\x01$\x03"));
        QCOMPARE(receive(*prog, 1), QByteArray("\x01"));
        QCOMPARE(sim.command("prog P off"), QString("ok prog P off address=5 parity=odd"));

        // The station still runs without parity: what it gets is garbled.
        QVERIFY(master->write(withAddress(5, "parity")));
        const QByteArray garbled = receive(*prog, 6);
        QCOMPARE(garbled.size(), 6);
        for (int i = 0; i < 6; ++i)
            QVERIFY(garbled[i] != QByteArray("parity")[i]);

        prog->setSettings("115200,o,8,1");
        if (!sim.stats("P").contains(" line=115200,o,8,1 "))
            QSKIP("the serial channel does not mark parity on the line yet");
        QVERIFY(master->write(withAddress(5, "parity")));
        QCOMPARE(receive(*prog, 6), QByteArray("parity"));
    }

    void baudMismatchGarblesBothWays() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"), "9600,n,8,1");
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));
        QVERIFY(sim.stats("S").contains(" line=9600,n,8,1 "));

        const QByteArray text("hello, world");
        QVERIFY(master->write(withAddress(7, text)));
        const QByteArray toSlave = receive(*slave, text.size());
        QCOMPARE(toSlave.size(), text.size());
        QVERIFY(slave->write(text));
        const QByteArray toMaster = receive(*master, text.size() + 1);
        QCOMPARE(toMaster.size(), text.size() + 1);
        QCOMPARE(int(quint8(toMaster[0])), 7); // added by the module, after the line
        for (int i = 0; i < text.size(); ++i) {
            QVERIFY(toSlave[i] != text[i]);
            QVERIFY(toMaster[i + 1] != text[i]);
        }
        QVERIFY(sim.trace().first().endsWith(" mismatch"));

        // Jumpers set to the station's speed: clean again.
        QCOMPARE(sim.command("baud S 9600"), QString("ok baud S 9600"));
        QVERIFY(master->write(withAddress(7, text)));
        QCOMPARE(receive(*slave, text.size()), text);
        QVERIFY(slave->write(text));
        QCOMPARE(receive(*master, text.size() + 1), withAddress(7, text));
    }

    void faultsRepeatForTheSameSeed() {
        auto run = [](const QString& seed, QByteArray* got) {
            SimProcess sim({"--no-pacing", "--seed", seed, "--loss", "0.3", "--corrupt", "0.05",
                            "M=master:0", "S=slave:7"});
            if (!sim.start())
                return QStringList();
            auto master = openStation(1, sim.linkPath("M"));
            auto slave = openStation(2, sim.linkPath("S"));
            if (!master || !slave || !sim.waitStations({"M", "S"}))
                return QStringList();
            for (int i = 0; i < 40; ++i) {
                if (!sendPacket(sim, *master, withAddress(7, QByteArray(16, char('A' + i % 26)))))
                    return QStringList();
            }
            const QStringList lines = sim.waitTrace(40);
            *got = receive(*slave, 0, 200);
            return withoutTimes(lines);
        };
        QByteArray got1, got2, got3;
        const QStringList first = run("99", &got1);
        QCOMPARE(first.size(), 40);
        QCOMPARE(run("99", &got2), first);
        QCOMPARE(got2, got1);
        QVERIFY(run("100", &got3) != first);

        // What arrived is exactly what the trace says was delivered.
        QByteArray delivered;
        int lost = 0, corrupted = 0;
        for (const QString& l : first) {
            const QStringList f = fields(l);
            if (f[1] == "S")
                delivered += QByteArray::fromHex(f[3].toLatin1());
            lost += f.value(4).startsWith("lost:");
            corrupted += f.value(4).startsWith("corrupted:");
        }
        QCOMPARE(got1, delivered);
        QVERIFY(lost > 0 && lost < 40);
        QVERIFY(corrupted > 0);
    }

    void pacingHoldsTheLineSpeed() {
        SimProcess sim({"--baud", "9600", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"), "9600,n,8,1");
        auto slave = openStation(2, sim.linkPath("S"), "9600,n,8,1");
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(master->write(withAddress(7, range(0, 100))));
        QCOMPARE(receive(*slave, 100, 5000), range(0, 100));
        // 100 characters of 10 bits at 9600 baud cannot take less than 104 ms.
        QVERIFY2(clock.elapsed() >= 104, qPrintable(QString::number(clock.elapsed())));
    }

    void stationsMayComeAndGo() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        QVERIFY(master);
        QVERIFY(sim.waitStations({"M"}));
        QVERIFY(sim.stats("S").contains(" station=closed "));

        // Nobody on S: the packet goes nowhere and is not kept for later.
        QVERIFY(master->write(withAddress(7, "early")));
        QVERIFY(sim.waitTrace(1).value(0).endsWith(" absent:S"));
        // Sitting idle with a station missing must not keep the loop busy.
        const long before = cpuTicks(sim.pid());
        QTest::qWait(1000);
        const long used = cpuTicks(sim.pid()) - before;
        QVERIFY2(before >= 0 && used < 30, qPrintable(QString::number(used)));

        for (int round = 0; round < 3; ++round) {
            auto slave = openStation(2, sim.linkPath("S"));
            QVERIFY(slave);
            QVERIFY(sim.waitStations({"S"}));
            QVERIFY(master->write(withAddress(7, "late")));
            QCOMPARE(receive(*slave, 4), QByteArray("late"));
            QVERIFY(slave->write("back"));
            QCOMPARE(receive(*master, 5), withAddress(7, "back"));
            slave->close();
            slave.reset();
            QTest::qWait(50);
        }
        QVERIFY(receive(*master, 0, 50).isEmpty());
    }

    void consoleSurvivesBadLinesAndEndOfInput() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"));
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));

        QVERIFY(master->write(withAddress(7, "12345")));
        QCOMPARE(receive(*slave, 5), QByteArray("12345"));
        QVERIFY(slave->write("ab"));
        QCOMPARE(receive(*master, 3), withAddress(7, "ab"));
        const QString s = sim.stats("S");
        QVERIFY2(s.contains(" in_packets=1 in_bytes=2 out_packets=1 out_bytes=5 dropped=0 "),
                 qPrintable(s));

        for (const char* bad : {"bogus", "prog X on", "baud S 12", "loss 7", "latency", "stats 1"})
            sim.send(QString::fromLatin1(bad));
        QCOMPARE(sim.command("loss 0"), QString("ok loss 0"));
        QCOMPARE(sim.errors().count(QLatin1Char('\n')), 6);

        sim.closeConsole();
        QTest::qWait(100);
        QVERIFY(sim.running());
        QVERIFY(master->write(withAddress(7, "still")));
        QCOMPARE(receive(*slave, 5), QByteArray("still"));
        QCOMPARE(sim.stop(SIGTERM), 0);
    }

    void latencyDelaysDelivery() {
        SimProcess sim({"--no-pacing", "--latency", "150", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        auto master = openStation(1, sim.linkPath("M"));
        auto slave = openStation(2, sim.linkPath("S"));
        QVERIFY(master && slave);
        QVERIFY(sim.waitStations({"M", "S"}));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(master->write(withAddress(7, "slow")));
        QCOMPARE(receive(*slave, 4), QByteArray("slow"));
        QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(SimRelayTest)
#include "test_sim_relay.moc"
