// The simulator run as a process, with stations on its pseudo-terminals that
// use the project's own serial channel.
#include "sim_process.h"

#include <QDir>
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
    return char(address) + payload;
}

// Writes one packet and waits until the simulator has traced it, so that
// the next write cannot join it even if the simulator is slow to read.
bool sendPacket(SimProcess& sim, Channel& station, const QByteArray& bytes) {
    const int before = int(sim.trace().size());
    return station.write(bytes) && sim.waitTrace(before + 1).size() > before;
}

// CPU time (user + system) of a process, in clock ticks.
long cpuTicks(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray s = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                               QDir::NoDotAndDotDot);
}

} // namespace

class SimRelayTest : public QObject {
    Q_OBJECT
private slots:
    void packetsKeepEveryByteAndTheirBoundaries() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7", "T=slave:8"});
        const auto st = sim.startWithStations({"M", "S", "T"});
        QVERIFY(!st.empty());
        // A merged packet would keep a master's second address byte, or lose
        // the address the module puts in front of a slave's packet.
        QVERIFY(sendPacket(sim, *st[0], withAddress(9, "for nobody")));
        QByteArray toMaster;
        for (int i = 0; i < 4; ++i) {
            const QByteArray part = range(i * 64, i * 64 + 64);
            QVERIFY(sendPacket(sim, *st[0], withAddress(7, part)));
            QVERIFY(sendPacket(sim, *st[1], part));
            toMaster += withAddress(7, part);
        }
        QCOMPARE(receive(*st[1], 256), range(0, 256));
        QCOMPARE(receive(*st[0], toMaster.size()), toMaster);
        QVERIFY(receive(*st[2], 0, 100).isEmpty());
    }

    void registersAreReadAndWrittenInProgrammingMode() {
        SimProcess sim({"--no-pacing", "M=master:0", "P=prog:5"});
        const auto st = sim.startWithStations({"M", "P"});
        QVERIFY(!st.empty());
        SerialChannel &master = *st[0], &prog = *st[1];
        // Read the address, write address 9 and odd parity, read the parity.
        QVERIFY(prog.write(QByteArray("$\0#\0\x09#\x03\x01$\x03", 10)));
        QCOMPARE(receive(prog, 2), QByteArray("\x05\x01"));
        QVERIFY(sendPacket(sim, prog, "$")); // a read split over two writes
        QVERIFY(prog.write(QByteArray(1, 0)));
        QCOMPARE(receive(prog, 1), QByteArray("\x09"));
        // While programming, nothing is relayed, to either address.
        QVERIFY(sendPacket(sim, master, withAddress(5, "old")));
        QVERIFY(sendPacket(sim, master, withAddress(9, "early")));
        QVERIFY(sendPacket(sim, prog, "hello"));

        QCOMPARE(sim.command("prog P off"), QStringList{"ok prog P off address=9 parity=odd"});
        QVERIFY(prog.setSettings("115200,o,8,1"));
        QVERIFY(sendPacket(sim, master, withAddress(5, "old")));
        QVERIFY(master.write(withAddress(9, "new")));
        QCOMPARE(receive(prog, 3), QByteArray("new"));
        QVERIFY(prog.write(QByteArray("$\0", 2))); // now ordinary payload
        QCOMPARE(receive(master, 3), QByteArray("\x09$\0", 3));
    }

    void baudMismatchGarblesEveryByteBothWays() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M", "S:9600,n,8,1"});
        QVERIFY(!st.empty());
        const QByteArray all = range(0, 256);
        QVERIFY(st[0]->write(withAddress(7, all)));
        QVERIFY(st[1]->write(all));
        const QByteArray toSlave = receive(*st[1], 256), toMaster = receive(*st[0], 257);
        QVERIFY(toSlave.size() == 256 && toMaster.size() == 257);
        QCOMPARE(toMaster[0], char(7)); // added by the module, after the line
        for (int i = 0; i < 256; ++i)
            QVERIFY(toSlave[i] != all[i] && toMaster[i + 1] != all[i]);
    }

    void faultsRepeatForTheSameSeed() {
        // The trace without times, then what the slave got.
        auto run = [](const char* seed) {
            SimProcess sim({"--no-pacing", "--seed", seed, "--loss", "0.3", "--corrupt", "0.05",
                            "M=master:0", "S=slave:7"});
            const auto st = sim.startWithStations({"M", "S"});
            for (int i = 0; i < 40 && !st.empty(); ++i)
                if (!sendPacket(sim, *st[0], withAddress(7, QByteArray(16, char('A' + i)))))
                    return QStringList();
            QStringList lines;
            for (const QString& l : sim.waitTrace(40))
                lines << l.section(QLatin1Char(' '), 1);
            return st.empty() ? lines : lines << receive(*st[1], 0, 200).toHex();
        };
        const QStringList first = run("99");
        QCOMPARE(first.size(), 41);
        QCOMPARE(run("99"), first);
        QVERIFY(run("100") != first);

        QVERIFY(first.filter(" lost:").size() >= 6 && !first.filter(" corrupted:").isEmpty());
    }

    void deliveryTakesAtLeastTheLineTime_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("minMs");
        // 100 characters of 10 bits at 9600 baud cannot take less than 104 ms.
        QTest::newRow("9600 baud") << QStringList{"--baud", "9600"} << ":9600,n,8,1" << 104;
        QTest::newRow("latency") << QStringList{"--no-pacing", "--latency", "150"} << "" << 150;
    }
    void deliveryTakesAtLeastTheLineTime() {
        QFETCH(QStringList, options);
        QFETCH(QString, line);
        QFETCH(int, minMs);
        SimProcess sim(options + QStringList{"M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M" + line, "S" + line});
        QVERIFY(!st.empty());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(st[0]->write(withAddress(7, range(0, 100))));
        QCOMPARE(receive(*st[1], 100, 5000), range(0, 100));
        QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
    }

    void stationsMayComeAndGo() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M"});
        QVERIFY(!st.empty());
        // Nobody on S: the packet is not kept for later, and waiting for a
        // station does not keep the simulator busy.
        QVERIFY(sendPacket(sim, *st[0], withAddress(7, "early")));
        const long before = cpuTicks(sim.pid());
        QTest::qWait(1000);
        QVERIFY2(before >= 0 && cpuTicks(sim.pid()) - before < 30, "busy while idle");
        for (int round = 0; round < 2; ++round) {
            const Station slave = openStation(2, sim.linkPath("S"));
            QVERIFY(slave && sim.waitStations({"S"}));
            QVERIFY(st[0]->write(withAddress(7, "late")));
            QCOMPARE(receive(*slave, 4), QByteArray("late"));
            QVERIFY(slave->write("back"));
            QCOMPARE(receive(*st[0], 5), withAddress(7, "back"));
            slave->close();
            QTest::qWait(50);
        }
    }

    void endsCleanlyOnASignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void endsCleanlyOnASignal() {
        QFETCH(int, signal);
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(QFile::link("/nonexistent/pts", sim.linkPath("M"))); // left by an earlier run
        const auto st = sim.startWithStations({"M"});
        QVERIFY(!st.empty());
        // Neither a bad console line nor the end of the console ends it, and
        // an open station does not keep it alive.
        sim.send("bogus");
        sim.closeConsole();
        QTest::qWait(100);
        QCOMPARE(sim.stop(signal), 0);
        QCOMPARE(entries(sim.linkDir()), QStringList());
    }

    void badArgumentsEndBeforeAnythingIsCreated_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no modules") << QStringList{} << "no modules";
        QTest::newRow("address 256") << QStringList{"M=master:256"} << "0 to 255";
        QTest::newRow("unknown role") << QStringList{"M=boss:1"} << "unknown role";
        QTest::newRow("slash in name") << QStringList{"a/b=slave:1"} << "name";
        QTest::newRow("name twice") << QStringList{"A=master:1", "A=slave:2"} << "given twice";
        QTest::newRow("slaves share address")
            << QStringList{"A=slave:4", "B=slave:4"} << "address 4";
        QTest::newRow("module baud") << QStringList{"A=slave:4@1234"} << "baud";
        QTest::newRow("loss above 1") << QStringList{"--loss", "1.5", "A=slave:4"} << "--loss";
        QTest::newRow("unknown option") << QStringList{"--fast", "A=slave:4"} << "--fast";
        QTest::newRow("a file in the way") << QStringList{"file=master:0"} << "not a link";
        QTest::newRow("missing dir")
            << QStringList{"--dir", "/nonexistent/rava2", "M=master:0"} << "/nonexistent/rava2";
        QTest::newRow("dir is a file")
            << QStringList{"--dir", "@FILE@", "M=master:0"} << "not a directory";
        QTest::newRow("trace cannot be written")
            << QStringList{"--trace", "/nonexistent/rava2/trace", "M=master:0"} << "trace";
    }
    void badArgumentsEndBeforeAnythingIsCreated() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("mine") == 4);
        file.close();
        args.replaceInStrings("@FILE@", file.fileName());
        if (!args.contains("--dir"))
            args << "--dir" << dir.path();
        QProcess p;
        p.start(simBinary(), args);
        QVERIFY(p.waitForFinished(10000));
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() > 0);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
        QVERIFY(!p.readAllStandardOutput().contains("ready"));
        QCOMPARE(entries(dir.path()), QStringList{"file"});
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "mine");
    }
};

QTEST_MAIN(SimRelayTest)
#include "test_sim_relay.moc"
