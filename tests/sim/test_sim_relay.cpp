// The simulator run as a process, with stations on its pseudo-terminals that
// use the project's own serial channel or a plain descriptor.
#include "sim_process.h"

#include <QElapsedTimer>
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

// Writes one packet and waits until the simulator has traced it, so that
// the next write cannot join it even if the simulator is slow to read.
bool sendPacket(SimProcess& sim, Channel& station, const QByteArray& bytes) {
    const int before = int(sim.trace().size());
    return station.write(bytes) && sim.waitTrace(before + 1).size() > before;
}

// The stats line of module `name`, as "key=value" pairs.
QMap<QString, QString> statsOf(SimProcess& sim, const QString& name) {
    QMap<QString, QString> fields;
    for (const QString& line : sim.command(QStringLiteral("stats")))
        if (line.startsWith("stats " + name + ' '))
            for (const QString& word : line.split(QLatin1Char(' ')))
                fields[word.section('=', 0, 0)] = word.section('=', 1);
    return fields;
}

bool writeAll(int fd, const QByteArray& bytes) {
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

} // namespace

class SimRelayTest : public QObject {
    Q_OBJECT
private slots:
    void packetsAreRoutedWithEveryByteAndTheirBoundaries() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7", "T=slave:8"});
        const auto st = sim.startWithStations({"M", "S", "T"});
        QVERIFY(!st.empty());
        // A merged packet would keep a master's second address byte, or lose
        // the address the module puts in front of a slave's packet.
        QVERIFY(sendPacket(sim, *st[0], QByteArray("\11for nobody")));
        QByteArray toMaster;
        for (int i = 0; i < 4; ++i) {
            const QByteArray part = range(i * 64, i * 64 + 64);
            QVERIFY(sendPacket(sim, *st[0], '\7' + part));
            QVERIFY(sendPacket(sim, *st[1], part));
            toMaster += '\7' + part;
        }
        QCOMPARE(receive(*st[1], 256), range(0, 256));
        QCOMPARE(receive(*st[0], toMaster.size()), toMaster);
        QVERIFY(receive(*st[2], 0, 100).isEmpty());
    }

    void aStationThatWritesAndClosesAtOnceIsRelayed() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"S"});
        QVERIFY(!st.empty());
        // As `printf '\x07hi\r\n' > DIR/M`: the writer is gone before the
        // simulator can have looked.
        for (int i = 0; i < 20; ++i) {
            const int before = int(sim.trace().size());
            const int fd = openRaw(sim.linkPath("M"));
            QVERIFY(fd >= 0 && writeAll(fd, "\x07hi\r\n"));
            ::close(fd);
            QVERIFY2(sim.waitTrace(before + 1).size() > before, "not relayed");
        }
        QCOMPARE(receive(*st[0], 80), QByteArray("hi\r\n").repeated(20));
        QCOMPARE(statsOf(sim, "M").value("in_packets"), QString("20"));
    }

    void oneWriteIsOnePacketUpToTheBound() {
        // Paced: the bytes of one write wait in the kernel while the module
        // takes them at the line's rate.
        SimProcess sim({"--baud", "921600", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"), B921600, true);
        const int slave = openRaw(sim.linkPath("S"), B921600, true);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const QByteArray down = '\7' + pattern(60000);
        QVERIFY(writeAll(master, down));
        QCOMPARE(readRaw(slave, 60000), down.mid(1));
        QVERIFY(sim.trace().size() == 1 && sim.trace()[0].contains(" M S 60000 "));
        // Exactly the bound from the slave: one packet after its address.
        const QByteArray up = pattern(65536);
        QVERIFY(writeAll(slave, up));
        QCOMPARE(readRaw(master, 65537), '\7' + up);
        // One byte more from the master: dropped whole.
        QVERIFY(writeAll(master, '\7' + pattern(65536)));
        QVERIFY2(sim.waitTrace(3).value(2).endsWith(" oversize"),
                 qPrintable(sim.trace().join('\n')));
        QVERIFY(readRaw(slave, 1, 300).isEmpty());
        ::close(master);
        ::close(slave);
    }

    void aSlaveFlatOutArrivesWholeAndInOrderWithMemoryFlat_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("baud"); // 0: --no-pacing
        QTest::newRow("1 MiB unpaced") << (1 << 20) << 0;
        QTest::newRow("10 MB unpaced") << 10000000 << 0;
        QTest::newRow("1 MiB paced at 921600") << (1 << 20) << 921600;
    }
    void aSlaveFlatOutArrivesWholeAndInOrderWithMemoryFlat() {
        QFETCH(int, size);
        QFETCH(int, baud);
        SimProcess sim(
            QStringList{"M=master:0", "S=slave:7"} +
            (baud ? QStringList{"--baud", QString::number(baud)} : QStringList{"--no-pacing"}));
        QVERIFY(sim.start());
        const speed_t speed = baud ? B921600 : B115200;
        const int master = openRaw(sim.linkPath("M"), speed);
        const int slave = openRaw(sim.linkPath("S"), speed, true);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const long baseline = memoryKb(sim.pid(), "VmRSS");
        QVERIFY(baseline > 0);
        const QByteArray data = pattern(size);
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        qint64 writeMs = -1, elapsed = -1;
        {
            FlatOutWriter writer(slave, data);
            if (baud) {
                got = readRaw(master, data.size() + 16, 10000);
            } else {
                // The master stops reading for a while: the slave's writes
                // wait instead of bytes being dropped.
                got = readRaw(master, 100000);
                QTest::qWait(1000);
                got += readRaw(master, 2 * data.size(), 2000);
            }
            elapsed = clock.elapsed();
            writeMs = writer.msToFinish();
        }
        ::close(master);
        ::close(slave);
        // Cut into packets of at most 65,536 bytes, each after the address.
        QCOMPARE(got.at(0), char(7));
        const QByteArray payload = QByteArray(got).replace(char(7), QByteArray());
        QVERIFY2(payload == data, qPrintable(QString("%1 of %2").arg(payload.size()).arg(size)));
        QCOMPARE(statsOf(sim, "S").value("dropped"), QString("0"));
        const long grown = memoryKb(sim.pid(), "VmHWM") - baseline;
        QVERIFY2(grown < 16 * 1024, qPrintable(QString::number(grown)));
        if (!baud)
            return;
        // Paced: cut at the bound exactly, no faster than the line (10 bits a
        // byte), and the slave's writes waited for it (all but what the
        // kernel and the module's buffer hold).
        QCOMPARE(got.size(), data.size() + 16);
        for (qsizetype at = 0; at < data.size(); at += 65536)
            QCOMPARE(got.at(at + at / 65536), char(7));
        const double bytesPerMs = baud / 10000.0;
        QVERIFY2(elapsed >= qint64(data.size() / bytesPerMs), qPrintable(QString::number(elapsed)));
        QVERIFY2(writeMs >= qint64((data.size() - 65536) / bytesPerMs),
                 qPrintable(QString::number(writeMs)));
    }

    void dropsAreTracedAndCountedAndDamageNeverArrives() {
        SimProcess sim(
            {"--no-pacing", "--loss", "0.3", "--corrupt", "0.05", "M=master:0", "S=slave:7"});
        const auto st = sim.startWithStations({"M", "S"});
        QVERIFY(!st.empty());
        const QByteArray downPayload = range('A', 'A' + 24), upPayload = range('a', 'a' + 24);
        for (int i = 0; i < 30; ++i) {
            QVERIFY(sendPacket(sim, *st[0], '\7' + downPayload));
            QVERIFY(sendPacket(sim, *st[1], upPayload));
        }
        const QByteArray down = receive(*st[1], 0, 300), up = receive(*st[0], 0, 300);
        const QStringList lines = sim.trace();
        const auto count = [&](const char* what) { return int(lines.filter(what).size()); };
        const int lostDown = count(" lost:S"), lostUp = count(" lost:M");
        const int badDown = count(" checksum:S:"), badUp = count(" checksum:M:");
        QVERIFY(lostDown > 0 && lostUp > 0 && badDown > 0 && badUp > 0);
        // What gets through is whole and unchanged; a damaged packet is gone.
        QCOMPARE(down, downPayload.repeated(30 - lostDown - badDown));
        QCOMPARE(up, ('\7' + upPayload).repeated(30 - lostUp - badUp));
        const auto m = statsOf(sim, "M"), s = statsOf(sim, "S");
        QCOMPARE(m.value("lost").toInt(), lostDown);
        QCOMPARE(s.value("lost").toInt(), lostUp);
        QCOMPARE(m.value("rejected").toInt(), badDown);
        QCOMPARE(s.value("rejected").toInt(), badUp);
    }

    // An over-long console line is refused once, whole; a directory in use
    // is refused, and links a killed simulator left behind are replaced.
    void consoleAndDirectory() {
        QTemporaryDir dir;
        auto first = std::make_unique<SimProcess>(QStringList{"M=master:0"}, dir.path());
        QVERIFY(first->start());
        // Its tail is a command of its own; it must not run.
        first->send(QString(9000, QLatin1Char(' ')) + "loss 1");
        QCOMPARE(first->command("loss 0.25"), QStringList{"ok loss 0.25"});
        const QString errors = first->errors();
        QCOMPARE(errors.count("longer than"), 1);
        QVERIFY(!errors.contains("unknown command"));
        const QString link = first->linkPath("M");
        const QString target = QFile::symLinkTarget(link);
        QProcess second;
        second.start(simBinary(), {"--dir", dir.path(), "M=master:0"});
        QVERIFY(second.waitForFinished(10000) && second.exitCode() > 0);
        QVERIFY(second.readAllStandardError().contains("in use by another rava2-sim"));
        QCOMPARE(QFile::symLinkTarget(link), target);
        // Killed: its links stay behind, and the next simulator takes them.
        QCOMPARE(::kill(pid_t(first->pid()), SIGKILL), 0);
        first.reset();
        QVERIFY(QFileInfo(link).isSymLink());
        SimProcess third({"M=master:0"}, dir.path());
        QVERIFY(!third.startWithStations({"M"}).empty());
        QCOMPARE(third.stop(SIGTERM), 0);
        QVERIFY(
            QDir(dir.path())
                .isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_MAIN(SimRelayTest)
#include "test_sim_relay.moc"
