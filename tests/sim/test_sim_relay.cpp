// The simulator run as a process, with stations on its pseudo-terminals that
// use the project's own serial channel or a plain descriptor.
#include "sim_process.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <thread>
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

// `size` bytes in a fixed pattern without the byte 7, the slave address the
// tests use, so that address bytes stand out.
QByteArray pattern(qsizetype size) {
    QByteArray p(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        p[i] = char(8 + (i * 7 + i / 241) % 248);
    return p;
}

// Writes one packet and waits until the simulator has traced it, so that
// the next write cannot join it even if the simulator is slow to read.
bool sendPacket(SimProcess& sim, Channel& station, const QByteArray& bytes) {
    const int before = int(sim.trace().size());
    return station.write(bytes) && sim.trace(before + 1).size() > before;
}

// A link opened as a plain program does: raw 8N1 at `speed`, blocking.
int openRaw(const QString& path, speed_t speed = B115200) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (n < 0 && errno != EINTR)
            return false;
        at += qMax<ssize_t>(n, 0);
    }
    return true;
}

// Reads until `count` bytes came, or `quietMs` passed without a byte.
QByteArray readRaw(int fd, qsizetype count, int quietMs = 3000) {
    QByteArray got;
    QElapsedTimer quiet;
    quiet.start();
    char buf[65536];
    while (got.size() < count && !quiet.hasExpired(quietMs)) {
        pollfd p{fd, POLLIN, 0};
        const size_t want = size_t(qMin<qsizetype>(count - got.size(), sizeof buf));
        const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::read(fd, buf, want) : 0;
        if (n > 0) {
            got.append(buf, n);
            quiet.restart();
        }
    }
    return got;
}

// The simulator's own child processes (the one that reads the stations).
QList<pid_t> childrenOf(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    QList<pid_t> children;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& c : f.readAll().split(' '))
            if (!c.trimmed().isEmpty())
                children << pid_t(c.trimmed().toLong());
    return children;
}

// A master writes `blocks` image-sized packets ([7][90 bytes]) 20 ms apart
// while `pause` stops the simulator now and then; returns what the slave
// read.
QByteArray blocksThroughPauses(SimProcess& sim, int blocks, const std::function<void()>& pause) {
    const int master = openRaw(sim.linkPath("M")), slave = openRaw(sim.linkPath("S"));
    if (master < 0 || slave < 0 || !sim.waitStations({"M", "S"}))
        return {};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < blocks; ++k) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * k));
            writeAll(master, '\7' + pattern(90 * (k + 1)).mid(90 * k));
        }
        done = true;
    });
    while (!done) {
        QThread::msleep(90);
        pause();
    }
    writer.join();
    // Merged blocks would bring address bytes along: read up to those too.
    const QByteArray got = readRaw(slave, 91 * blocks, 500);
    ::close(master);
    ::close(slave);
    return got;
}

// A memory figure ("VmRSS", "VmHWM") of a process in KiB, or -1.
long memoryKb(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    const QString status = f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : "";
    const auto m = QRegularExpression(QString(field) + ":\\s*(\\d+)").match(status);
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

} // namespace

class SimRelayTest : public QObject {
    Q_OBJECT
private slots:
    // Every byte is routed with its packet's boundaries; drops are traced and
    // counted, and a damaged packet never arrives.
    void routingAndDrops() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7", "T=slave:8", "W=slave:10"});
        const auto st = sim.startWithStations({"M", "S", "T"});
        QVERIFY(!st.empty());
        // A station that writes and closes at once, as `printf 'hi\r\n' > DIR/W`:
        // gone before the simulator can have looked.
        QByteArray toMaster;
        for (int i = 0; i < 20; ++i) {
            const int before = int(sim.trace().size());
            const int fd = openRaw(sim.linkPath("W"));
            QVERIFY(fd >= 0 && writeAll(fd, "hi\r\n"));
            ::close(fd);
            QVERIFY2(sim.trace(before + 1).size() > before, "not relayed");
            toMaster += "\12hi\r\n";
        }
        // A merged packet would keep a master's second address byte, or lose
        // the address the module puts in front of a slave's packet.
        QVERIFY(sendPacket(sim, *st[0], QByteArray("\11for nobody")));
        for (int i = 0; i < 4; ++i) {
            const QByteArray part = range(i * 64, i * 64 + 64);
            QVERIFY(sendPacket(sim, *st[0], '\7' + part));
            QVERIFY(sendPacket(sim, *st[1], part));
            toMaster += '\7' + part;
        }
        QCOMPARE(receive(*st[1], 256), range(0, 256));
        QCOMPARE(receive(*st[0], toMaster.size()), toMaster);
        QVERIFY(receive(*st[2], 0, 100).isEmpty());

        // Losses and damage switched on at the console; an over-long line is
        // refused once, whole: its tail must not run as a command.
        QCOMPARE(sim.command(QString(9000, ' ') + "loss 1\nloss 0.3"), QStringList{"ok loss 0.3"});
        QCOMPARE(sim.errors().count("longer than"), 1);
        QVERIFY(sim.command("corrupt 0.05").value(0).startsWith("ok corrupt"));
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
        // The stats count the same, on the sending module's line.
        const QStringList stats = sim.command(QStringLiteral("stats"));
        const auto counted = [&](const char* module, int lost, int bad) {
            return stats.filter(QString(" lost=%1 rejected=%2 ").arg(lost).arg(bad))
                .value(0)
                .startsWith(QString("stats ") + module + ' ');
        };
        QVERIFY2(counted("M", lostDown, badDown) && counted("S", lostUp, badUp),
                 qPrintable(stats.join('\n')));
    }

    void oneWriteIsOnePacketUpToTheBound() {
        // Paced: the bytes of one write wait in the kernel while the module
        // takes them at the line's rate.
        SimProcess sim({"--baud", "921600", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"), B921600);
        const Station slave = openStation(2, sim.linkPath("S"), "921600,n,8,1");
        QVERIFY(master >= 0 && slave && sim.waitStations({"M", "S"}));
        const QByteArray down = '\7' + pattern(60000);
        QVERIFY(writeAll(master, down));
        QCOMPARE(receive(*slave, 60000), down.mid(1));
        QVERIFY(sim.trace().size() == 1 && sim.trace()[0].contains(" M S 60000 "));
        // One byte over the bound: dropped whole.
        QVERIFY(writeAll(master, '\7' + pattern(65536)));
        // (Guessed too when the machine kept the simulator's reader from
        // running for a frame gap just as the write came.)
        QVERIFY2(sim.trace(2).value(1).contains(QRegularExpression(" oversize(,guessed)?$")),
                 qPrintable(sim.trace().join('\n')));
        QVERIFY(receive(*slave, 0, 300).isEmpty());
        ::close(master);
    }

    // The simulator stopped for 60 ms at a time (as on a loaded machine)
    // while a master writes blocks 20 ms apart: every block still reaches
    // the slave as a packet of its own, its address byte never taken for
    // picture data. Stopped with its reader, it cannot tell the blocks that
    // waited apart: those packets are counted and traced as guessed.
    void writesStayApartWhileTheSimulatorIsStopped() {
        const int blocks = 40;
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const pid_t pid = pid_t(sim.pid());
        const auto stop = [](const QList<pid_t>& pids) {
            for (const pid_t p : pids)
                ::kill(p, SIGSTOP);
            QThread::msleep(60);
            for (const pid_t p : pids)
                ::kill(p, SIGCONT);
        };
        const QByteArray got = blocksThroughPauses(sim, blocks, [&] { stop({pid}); });
        QCOMPARE(got, pattern(90 * blocks));
        const QStringList lines = sim.trace(blocks);
        QCOMPARE(lines.size(), blocks);
        // (A block read late by a frame gap, on a busy machine, would say
        // "guessed"; only the simulator itself was stopped here.)
        QCOMPARE(lines.filter(QRegularExpression(" M S 90 [0-9a-f]{180}( guessed)?$")).size(),
                 blocks);
        const int before = int(lines.filter(" guessed").size());

        const QList<pid_t> all = QList<pid_t>{pid} + childrenOf(pid);
        QVERIFY(all.size() > 1);
        const QByteArray merged = blocksThroughPauses(sim, 20, [&] { stop(all); });
        const QStringList more = sim.trace().mid(blocks);
        const QStringList guessed = more.filter(QRegularExpression(" M S \\d+ [0-9a-f]+ guessed$"));
        QVERIFY2(!guessed.isEmpty(), qPrintable(more.join('\n')));
        // Only what the pauses merged is guessed; the bytes all arrive.
        QVERIFY(guessed.size() < more.size());
        QCOMPARE(QByteArray(merged).replace('\7', QByteArray()), pattern(90 * 20));
        const QString counted = QStringLiteral(" guessed=%1").arg(before + guessed.size());
        QVERIFY(sim.command("stats").filter(counted).size() == 2);
    }

    // A station that closes its port and opens it again at once (before the
    // simulator may have seen it go) is read on: every packet is relayed.
    void aStationReopenedAtOnceIsStillRead() {
        SimProcess sim({"--no-pacing", "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int slave = openRaw(sim.linkPath("S"));
        int master = openRaw(sim.linkPath("M"));
        QVERIFY(slave >= 0 && master >= 0 && sim.waitStations({"M", "S"}));
        QByteArray sent;
        for (int i = 0; i < 30; ++i) {
            ::close(master);
            master = openRaw(sim.linkPath("M"));
            const QByteArray payload = pattern(16 + i).mid(i);
            QVERIFY(writeAll(master, '\7' + payload));
            sent += payload;
            QVERIFY2(sim.trace(i + 1).size() > i, qPrintable(QString::number(i)));
        }
        QCOMPARE(readRaw(slave, sent.size()), sent);
        ::close(master);
        ::close(slave);
    }

    void aSlaveFlatOutArrivesWholeAndInOrderWithMemoryFlat_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("baud"); // 0: --no-pacing
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
        const int master = openRaw(sim.linkPath("M"), speed),
                  slave = openRaw(sim.linkPath("S"), speed);
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const long baseline = memoryKb(sim.pid(), "VmRSS");
        QVERIFY(baseline > 0);
        const QByteArray data = pattern(size);
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> writeMs{-1};
        std::thread writer([&] {
            if (writeAll(slave, data))
                writeMs = clock.elapsed();
        });
        // Unpaced, the master stops reading for a second: the slave's writes
        // wait instead of bytes being dropped.
        QByteArray got = readRaw(master, baud ? data.size() + 16 : 100000, 10000);
        QTest::qWait(baud ? 0 : 1000);
        got += readRaw(master, 2 * data.size() - got.size(), 2000);
        const qint64 elapsed = clock.elapsed();
        const long grown = memoryKb(sim.pid(), "VmHWM") - baseline;
        sim.stop(SIGKILL); // frees a writer still waiting
        writer.join();
        ::close(master);
        ::close(slave);
        // Cut into packets of at most 65,536 bytes, each after the address.
        QCOMPARE(got.at(0), char(7));
        QVERIFY(QByteArray(got).replace(char(7), QByteArray()) == data);
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

    // A directory in use is refused, and links a killed simulator left behind
    // are replaced.
    void directoryLock() {
        QTemporaryDir dir;
        auto first = std::make_unique<SimProcess>(QStringList{"M=master:0"}, dir.path());
        QVERIFY(first->start());
        const QString link = first->linkPath("M");
        const QString target = QFile::symLinkTarget(link);
        QProcess second;
        second.start(simBinary(), {"--dir", dir.path(), "M=master:0"});
        QVERIFY(second.waitForFinished(10000) && second.exitCode() > 0);
        QVERIFY(second.readAllStandardError().contains("in use by another rava2-sim"));
        QCOMPARE(QFile::symLinkTarget(link), target);
        // Killed (SIGKILL): its links stay behind, and the next simulator takes them.
        first.reset();
        QVERIFY(QFileInfo(link).isSymLink());
        SimProcess third({"M=master:0"}, dir.path());
        QVERIFY(!third.startWithStations({"M"}).empty());
        QCOMPARE(third.stop(SIGTERM), 0);
        QVERIFY(
            QDir(dir.path())
                .isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
        // A module named like the lock file would put its link in the lock's
        // place: refused as a bad argument, nothing made.
        QProcess named;
        named.start(simBinary(), {"--dir", dir.path(), "M=master:0", ".rava2-sim.lock=slave:3"});
        const bool ended = named.waitForFinished(5000);
        named.kill();
        named.waitForFinished(1000);
        QVERIFY(ended && named.exitCode() == 2);
        QVERIFY(named.readAllStandardError().contains(
            "module name '.rava2-sim.lock' is the name of the simulator's lock file"));
        QVERIFY(
            QDir(dir.path())
                .isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
    }
};

QTEST_MAIN(SimRelayTest)
#include "test_sim_relay.moc"
