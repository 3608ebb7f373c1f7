// The simulator run as a process, with stations on its pseudo-terminals that
// use the project's own serial channel.
#include "sim_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <csignal>
#include <unistd.h>

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

// The stats line of module `name`, as "key=value" pairs.
QMap<QString, QString> statsOf(SimProcess& sim, const QString& name) {
    QMap<QString, QString> fields;
    for (const QString& line : sim.command(QStringLiteral("stats")))
        if (line.startsWith("stats " + name + ' '))
            for (const QString& word : line.split(QLatin1Char(' ')))
                if (word.contains(QLatin1Char('=')))
                    fields[word.section('=', 0, 0)] = word.section('=', 1);
    return fields;
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

    void aStationThatWritesAndClosesAtOnceIsRelayed() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"S"});
        QVERIFY(!st.empty());
        // As `printf '\x07hi\r\n' > DIR/M`: nobody held M before, and the
        // writer is gone before the simulator can have looked.
        for (int i = 0; i < 20; ++i) {
            const int before = int(sim.trace().size());
            const int fd = openRaw(sim.linkPath("M"));
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "\x07hi\r\n", 5), ssize_t(5));
            ::close(fd);
            QVERIFY2(sim.waitTrace(before + 1).size() > before, "not relayed");
        }
        QCOMPARE(receive(*st[0], 80), QByteArray("hi\r\n").repeated(20));
        const auto m = statsOf(sim, "M");
        QCOMPARE(m.value("in_packets"), QString("20"));
        QCOMPARE(m.value("station"), QString("closed"));
    }

    void oneWriteIsOnePacketUpToTheBound() {
        // Paced at 921600 baud: the bytes of one write wait in the kernel
        // while the module takes them at the line's rate.
        SimProcess sim({"--baud", "921600", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"), B921600, true);
        const int slave = openRaw(sim.linkPath("S"), B921600, true);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        auto writeAll = [](int fd, const QByteArray& bytes) {
            return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
        };
        // 60,001 bytes from the master: one packet, the rest not "unrouted".
        const QByteArray down = withAddress(7, pattern(60000));
        QVERIFY(writeAll(master, down));
        QCOMPARE(readRaw(slave, 60000), down.mid(1));
        QCOMPARE(sim.trace().size(), 1);
        QVERIFY(sim.trace().value(0).contains(" M S 60000 "));
        // 65,536 bytes from the slave, exactly the bound: the master gets
        // them after the slave's address, all in one packet.
        const QByteArray up = pattern(65536);
        QVERIFY(writeAll(slave, up));
        QCOMPARE(readRaw(master, 65537), withAddress(7, up));
        // One byte more from the master: dropped whole, traced and counted.
        QVERIFY(writeAll(master, withAddress(7, pattern(65536))));
        const QStringList lines = sim.waitTrace(3);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[2].contains(" M - 65537 ") && lines[2].endsWith(" oversize"),
                 qPrintable(lines[2]));
        QVERIFY(readRaw(slave, 1, 300).isEmpty());
        const auto m = statsOf(sim, "M");
        QCOMPARE(m.value("oversize"), QString("1"));
        QCOMPARE(m.value("dropped"), QString("1"));
        ::close(master);
        ::close(slave);
    }

    void aSlaveFlatOutArrivesWholeAndInOrderWithMemoryFlat_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("1 MiB") << (1 << 20);
        QTest::newRow("10 MB") << 10000000;
    }
    void aSlaveFlatOutArrivesWholeAndInOrderWithMemoryFlat() {
        QFETCH(int, size);
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"));
        const int slave = openRaw(sim.linkPath("S"), B115200, true);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const long baseline = memoryKb(sim.pid(), "VmRSS");
        QVERIFY(baseline > 0);
        const QByteArray data = pattern(size);
        QByteArray got;
        {
            FlatOutWriter writer(slave, data);
            // The master stops reading for a while: the module's queue fills
            // and the slave's writes wait instead of bytes being dropped.
            got = readRaw(master, 100000);
            QTest::qWait(1000);
            // Until all came (the address bytes are at least one per 65,536
            // bytes) and nothing more does.
            got += readRaw(master, 2 * data.size(), 2000);
        }
        // The slave's run is cut into packets of at most 65,536 bytes, each
        // with the slave's address in front.
        QCOMPARE(got.at(0), char(7));
        const QByteArray payload = QByteArray(got).replace(char(7), QByteArray());
        QVERIFY2(payload == data, qPrintable(QString("%1 of %2 bytes, %3 address bytes")
                                                 .arg(payload.size())
                                                 .arg(data.size())
                                                 .arg(got.count(char(7)))));
        QVERIFY(got.count(char(7)) >= size / 65536);
        const auto s = statsOf(sim, "S");
        QCOMPARE(s.value("in_bytes"), QString::number(data.size()));
        QCOMPARE(s.value("dropped"), QString("0"));
        const long grown = memoryKb(sim.pid(), "VmHWM") - baseline;
        QVERIFY2(grown < 16 * 1024, qPrintable(QString::number(grown)));
        ::close(master);
        ::close(slave);
    }

    void stationWritesWaitForTheLineAndMemoryStaysFlat() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"));
        const int slave = openRaw(sim.linkPath("S"), B115200, true);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const long baseline = memoryKb(sim.pid(), "VmRSS");
        QVERIFY(baseline > 0);
        {
            FlatOutWriter writer(slave, pattern(10 << 20));
            QElapsedTimer clock;
            clock.start();
            QByteArray got;
            while (clock.elapsed() < 2000)
                got += readRaw(master, 1 << 20, 50);
            // The module took no more than the line carried (11,520 bytes a
            // second) plus what the kernel and its receive buffer hold.
            const qint64 written = writer.written();
            const qint64 carried = (clock.elapsed() + 50) * 11520 / 1000;
            QVERIFY2(
                written < carried + 65536,
                qPrintable(QString("%1 of %2 bytes the line carried").arg(written).arg(carried)));
            QVERIFY(written > 11520);
            const long grown = memoryKb(sim.pid(), "VmHWM") - baseline;
            QVERIFY2(grown < 16 * 1024, qPrintable(QString::number(grown)));
            QCOMPARE(sim.stop(SIGTERM), 0); // ends the write
        }
        ::close(master);
        ::close(slave);
    }

    void dropsAreTracedAndCountedByCause() {
        SimProcess sim({"--no-pacing", "--loss", "0.5", "M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M", "S"});
        QVERIFY(!st.empty());
        for (int i = 0; i < 20; ++i) {
            QVERIFY(sendPacket(sim, *st[0], withAddress(7, "down")));
            QVERIFY(sendPacket(sim, *st[1], "up"));
        }
        QVERIFY(sendPacket(sim, *st[0], withAddress(9, "nobody")));
        const QByteArray down = receive(*st[1], 0, 300), up = receive(*st[0], 0, 300);
        const QStringList lines = sim.trace();
        const int lostDown = int(lines.filter(" lost:S").size());
        const int lostUp = int(lines.filter(" lost:M").size());
        QVERIFY(lostDown > 0 && lostUp > 0 && lostDown < 20 && lostUp < 20);
        QCOMPARE(down.size(), qsizetype(4 * (20 - lostDown)));
        QCOMPARE(up.size(), qsizetype(3 * (20 - lostUp)));
        const auto m = statsOf(sim, "M"), s = statsOf(sim, "S");
        QCOMPARE(m.value("lost").toInt(), lostDown);
        QCOMPARE(s.value("lost").toInt(), lostUp);
        QCOMPARE(m.value("unrouted"), QString("1"));
        QCOMPARE(m.value("dropped").toInt(), lostDown + 1);
        QCOMPARE(lines.filter(" unrouted").size(), 1);
        const QStringList total = sim.command("stats").filter("ok stats");
        QVERIFY(total.value(0).contains(QString(" lost=%1 ").arg(lostDown + lostUp)));
    }

    void anOverlongConsoleLineIsRefusedOnceAndWhole() {
        SimProcess sim({"M=master:0"});
        QVERIFY(sim.start());
        // Its tail is a command of its own; it must not run.
        sim.send(QString(9000, QLatin1Char(' ')) + "loss 1");
        const QStringList answer = sim.command("loss 0.25");
        QCOMPARE(answer, QStringList{"ok loss 0.25"});
        QCOMPARE(sim.errors().count("longer than"), 1);
        QVERIFY(!sim.errors().contains("unknown command"));
    }

    void aDirectoryInUseIsRefusedAndStaleLinksAreReplaced() {
        QTemporaryDir dir;
        auto first = std::make_unique<SimProcess>(QStringList{"M=master:0"}, dir.path());
        QVERIFY(first->start());
        const QString link = first->linkPath("M");
        const QString target = QFile::symLinkTarget(link);
        QVERIFY(!target.isEmpty());
        QProcess second;
        second.start(simBinary(), {"--dir", dir.path(), "M=master:0"});
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(second.exitCode() > 0);
        const QString err = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(err.contains("in use by another rava2-sim"), qPrintable(err));
        QCOMPARE(QFile::symLinkTarget(link), target);

        // Killed: its links stay behind, and the next simulator takes them.
        QCOMPARE(::kill(pid_t(first->pid()), SIGKILL), 0);
        first.reset();
        QVERIFY(QFileInfo(link).isSymLink());
        SimProcess third({"M=master:0"}, dir.path());
        const auto st = third.startWithStations({"M"});
        QVERIFY(!st.empty());
        QCOMPARE(third.stop(SIGTERM), 0);
        QCOMPARE(entries(dir.path()), QStringList());
    }

    void aTraceThatCannotBeWrittenIsReportedOnce() {
        SimProcess sim({"--no-pacing", "--trace", "/dev/full", "M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M", "S"});
        QVERIFY(!st.empty());
        for (int i = 0; i < 3; ++i) {
            QVERIFY(st[0]->write(withAddress(7, "abc")));
            QCOMPARE(receive(*st[1], 3), QByteArray("abc"));
        }
        QVERIFY(!sim.command("stats").isEmpty());
        QCOMPARE(sim.errors().count("cannot write trace '/dev/full'"), 1);
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
