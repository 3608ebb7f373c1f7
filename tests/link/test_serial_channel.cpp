// The serial channel on a pseudo-terminal and, through the module
// simulator, beside the simulator's trace.
#include "link/serial_channel.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "link/wire_trace.h"
#include "sim/sim_process.h"
#include "support/pty.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QSignalSpy>
#include <QtTest>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <numeric>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace rava;
using rava::test::Pty;

namespace {

// A channel on port 1, which points at the station side of `pty`.
std::unique_ptr<SerialChannel> channelOn(const Pty& pty, const QString& name = "MSComm1") {
    qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
    return std::make_unique<SerialChannel>(name, "the " + name + " channel", 1);
}

const QByteArray kEveryByte = [] {
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), 0);
    return all;
}();

// The lines "TIME CHANNEL DIRECTION LENGTH HEX" (the simulator's "TIME FROM
// TO LENGTH HEX") of a trace with `from` and `to` as second and third fields.
QList<QByteArrayList> traced(const QString& path, const QByteArray& from, const QByteArray& to) {
    QFile f(path);
    QList<QByteArrayList> kept;
    for (const QByteArray& line :
         f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QByteArrayList())
        if (const QByteArrayList fields = line.split(' ');
            fields.value(1) == from && fields.value(2) == to)
            kept << fields;
    return kept;
}

// What this program writes on standard error while it lives.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        if (file_.open())
            ::dup2(file_.handle(), 2);
    }
    ~StderrCapture() { text(); }
    QString text() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, 2);
            ::close(saved_);
            saved_ = -1;
            file_.seek(0);
            text_ = QString::fromLocal8Bit(file_.readAll());
        }
        return text_;
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
    QString text_;
};

} // namespace

class SerialChannelTest : public QObject {
    Q_OBJECT
private slots:
    // Every byte value crosses unchanged both ways, with and without parity
    // checking.
    void bytesCrossUnchangedWhateverTheLineSetting() {
        Pty pty;
        const auto ch = channelOn(pty);
        ch->setLineParams(kLineSettings[9].params); // 115200,none,8,1
        QVERIFY(ch->open());
        QCOMPARE(pty.stationSpeed(), unsigned(B115200));
        QCOMPARE(pty.stationParity(), 'n');
        QVERIFY(ch->write(kEveryByte));
        QCOMPARE(pty.receive(256, 3000), kEveryByte);
        QVERIFY(pty.send(kEveryByte));
        QCOMPARE(test::receive(*ch, 256), kEveryByte);
        // A new setting applies at once to the open port.
        ch->setLineParams(kLineSettings[2].params); // 9600.even,8,1
        QCOMPARE(pty.stationParity(), 'e');
        ch->setLineParams(kLineSettings[4].params); // 19200.odd,8,1
        QCOMPARE(settingsText(ch->lineParams()), QStringLiteral("19200,o,8,1"));
        QCOMPARE(pty.stationSpeed(), unsigned(B19200));
        QCOMPARE(pty.stationParity(), 'o');
        const QByteArray marks = kEveryByte + QByteArray("\xff\x00\xff\x41", 4);
        QVERIFY(pty.send(marks));
        QCOMPARE(test::receive(*ch, 260), marks);
    }

    // Reads in turn (split by '|'), and what each yields.
    void parityMarksBecomeQuestionMarks_data() {
        QTest::addColumn<QByteArray>("reads");
        QTest::addColumn<QByteArray>("yields");
        QTest::newRow("bad byte, genuine FF")
            << QByteArray("A\xff\x00\x41\x42|\xff\xff", 8) << QByteArray("A?B|\xff");
        QTest::newRow("mark split after FF")
            << QByteArray("x\xff|\x00|\x07y", 7) << QByteArray("x||?y");
        QTest::newRow("FF FF split") << QByteArray("\xff|\xff") << QByteArray("|\xff");
    }
    void parityMarksBecomeQuestionMarks() {
        QFETCH(QByteArray, reads);
        QFETCH(QByteArray, yields);
        QByteArray carry;
        QList<QByteArray> got;
        for (const QByteArray& read : reads.split('|'))
            got << decodeParityMarks(carry, read);
        QCOMPARE(got, yields.split('|'));
        QVERIFY(carry.isEmpty());
    }

    void closeDeliversEverythingHandedOver() {
        Pty pty;
        const auto ch = channelOn(pty, "MSComm2");
        QVERIFY(ch->open());
        const QByteArray big = kEveryByte.repeated(200);
        QVERIFY(ch->write(big));
        ch->close(); // far more than the line's buffers hold is still queued
        QVERIFY(!ch->isOpen() && !ch->write("late"));
        QCOMPARE(pty.receive(big.size(), 10000), big);
        QVERIFY(pty.waitStationClosed(5000));
    }

    // A device that goes away is reported naming the COM entry and the
    // device it was opened as; one that does not exist is refused naming the
    // variable that maps it too. (A device held by another channel: the
    // failure-path tests.)
    void unusableDevicesAreNamed() {
        auto pty = std::make_unique<Pty>();
        const QString device = pty->stationPath();
        const auto text = channelOn(*pty);
        QString error;
        QVERIFY(text->open(&error) && text->open()); // asking again is harmless
        text->setPort(2); // the next open's port: the message names the device held
        QSignalSpy lost(text.get(), &Channel::lost);
        pty.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        const QString reason = lost.first().first().toString();
        QVERIFY2(!text->isOpen() && reason.contains("COM 1") && reason.contains(device),
                 qPrintable(reason));
        qputenv("RAVA2_COM3", "/nonexistent/rava-port");
        text->setPort(3);
        QVERIFY(!text->open(&error) && !text->isOpen() && !text->write("x"));
        for (const char* part : {"COM 3", "/nonexistent/rava-port", "RAVA2_COM3"})
            QVERIFY2(error.contains(QLatin1String(part)), qPrintable(error));
    }

    // Port and line choices reach every channel, the programming channel
    // staying on port 1; an entry that does not exist changes nothing.
    void portAndLineChoicesReachTheChannels() {
        StationSettings settings;
        StationLink link(settings);
        settings.setPort(3);
        settings.setPort(8);
        settings.setLineSetting(2); // "9600,even,8,1"
        settings.setLineSetting(12);
        for (SerialChannel* ch : {&link.textChannel(), &link.imageChannel(), &link.pollingChannel(),
                                  &link.programmingChannel()}) {
            QCOMPARE(ch->port(), ch == &link.programmingChannel() ? 1 : 3);
            QCOMPARE(settingsText(ch->lineParams()), QStringLiteral("9600,e,8,1"));
        }
    }

    // RAVA2_TRACE takes a regular file, created when missing, and never
    // waits to open it; a trace that cannot be written is said once on
    // standard error and the tool goes on without it. `setup`: what the
    // name points at (a path of its own, or made in a fresh folder).
    void wireTraceTakesRegularFilesOnly_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("says");
        const QString special = QStringLiteral("it is not a regular file; going on without it");
        QTest::newRow("named pipe, no reader") << "fifo" << false << special;
        QTest::newRow("/dev/full") << "/dev/full" << false << special;
        QTest::newRow("folder") << "folder" << false << special;
        QTest::newRow("no such folder")
            << "missing/trace" << false << "No such file or directory; going on without it";
        QTest::newRow("missing file") << "trace" << true << QString();
        QTest::newRow("file size limit reached")
            << "limit" << true << "failed: File too large; the trace stops here";
    }
    void wireTraceTakesRegularFilesOnly() {
        QFETCH(QString, setup);
        QFETCH(bool, opened);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = setup.startsWith('/') ? setup : dir.filePath(setup);
        std::thread reader; // lets a trace that waits for a reader go on, so it fails, not hangs
        if (setup == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
            reader = std::thread([path] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                ::close(fd);
            });
        } else if (setup == "folder") {
            QVERIFY(QDir().mkpath(path));
        }
        const QByteArray line(40, 'x');
        // The length of one line of the trace, its time as long as now.
        const qsizetype length =
            formatTraceLine(std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count(),
                            QStringLiteral("image"), "out", line)
                .size() +
            1;
        // Past a size limit the writing fails instead of ending the program.
        const auto sigxfsz = std::signal(SIGXFSZ, SIG_IGN);
        const auto sigpipe = std::signal(SIGPIPE, SIG_IGN);
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        std::optional<StderrCapture> err(std::in_place);
        WireTrace::restart(path);
        WireTrace* trace = WireTrace::instance();
        if (setup == "limit") { // the file takes two lines and a half
            rlimit lower = before;
            lower.rlim_cur = rlim_t(length * 5 / 2);
            ::setrlimit(RLIMIT_FSIZE, &lower);
        }
        for (int i = 0; trace && i < 10; ++i)
            trace->record(QStringLiteral("image"), "out", line);
        ::setrlimit(RLIMIT_FSIZE, &before);
        WireTrace::restart(QString());
        const QString said = err->text();
        err.reset();
        if (reader.joinable())
            reader.join();
        std::signal(SIGXFSZ, sigxfsz);
        std::signal(SIGPIPE, sigpipe);
        QCOMPARE(trace != nullptr, opened);
        QCOMPARE(said.count(QStringLiteral("rava2-demo: ")), says.isEmpty() ? 0 : 1);
        QVERIFY2(says.isEmpty() || (said.contains(path) && said.trimmed().endsWith(says)),
                 qPrintable(said));
        if (!opened)
            return;
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArrayList lines = f.readAll().split('\n');
        QCOMPARE(lines.size() - 1, setup == "limit" ? 2 : 10);
        QCOMPARE(lines.first().split(' ').value(4), line.toHex());
    }

    // A text file sent by a master through the simulator: each write is in
    // the trace as the packet the module delivers, on the same clock; the
    // slave's receive events add up to the file; once off, nothing is traced.
    void wireTraceMatchesTheSimulatorsTrace() {
        QTemporaryDir dir;
        const QString tool = dir.filePath("tool.trace"), simTrace = dir.filePath("sim.trace");
        test::SimProcess sim({"--trace", simTrace, "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        WireTrace::restart(tool);
        auto master = test::openStation(1, sim.linkPath(QStringLiteral("M")));
        auto slave = test::openStation(2, sim.linkPath(QStringLiteral("S")));
        QVERIFY(master && slave);
        master->setTraceName(QStringLiteral("text"));
        slave->setTraceName(QStringLiteral("rx"));
        StationSettings station;
        station.setLineSetting(kDefaultLineSetting);
        station.setRemoteAddress(7);
        text::TextSender sender(*master, station);
        const QByteArray file = "first\r\n\r\nthird line\r\n";
        QVERIFY(sender.send(test::writeFile(dir, QStringLiteral("f.txt"), file)));
        QCOMPARE(test::receive(*slave, file.size()), file);
        WireTrace::restart(QString());
        QVERIFY(slave->write("off"));

        const auto writes = traced(tool, "text", "out");
        const auto packets = traced(simTrace, "M", "S");
        QCOMPARE(writes.size(), 3);
        QCOMPARE(packets.size(), writes.size());
        QCOMPARE(writes[0][4], QByteArray("0766697273740d0a"));
        for (int i = 0; i < writes.size(); ++i) {
            // The module delivers what the master wrote less its address byte,
            // after the station wrote it and well within a second.
            QCOMPARE(packets[i][3].toInt() + 1, writes[i][3].toInt());
            QCOMPARE("07" + packets[i][4], writes[i][4]);
            const double lag = packets[i][0].toDouble() - writes[i][0].toDouble();
            QVERIFY2(lag >= 0 && lag < 1000, qPrintable(QString::number(lag)));
        }
        QByteArray in;
        for (const QByteArrayList& event : traced(tool, "rx", "in"))
            in += QByteArray::fromHex(event[4]);
        QCOMPARE(in, file);
        QVERIFY(traced(tool, "rx", "out").isEmpty());
    }
};

QTEST_MAIN(SerialChannelTest)
#include "test_serial_channel.moc"
