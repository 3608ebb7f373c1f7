// rava2-station processes against each other through the module simulator:
// every subcommand, its figures and its failures.
#include "image_transfer/image_sender.h"
#include "link/station_settings.h"
#include "link/wire_trace.h"
#include "sim/sim_process.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace rava;
using rava::test::SimProcess;

namespace {

QString stationBinary() {
    return QStringLiteral(RAVA2_BIN_DIR "/rava2-station");
}

// One rava2-station run, started now; finish() waits for its end.
class Run {
public:
    explicit Run(const QStringList& args, const QProcessEnvironment& env = {}) {
        if (!env.isEmpty())
            proc_.setProcessEnvironment(env);
        proc_.start(stationBinary(), args);
        proc_.waitForStarted(5000);
    }
    ~Run() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(5000);
        }
    }
    // The exit code, or -1 when it did not end in time or crashed.
    int finish(int timeoutMs = 60000) {
        if (!QTest::qWaitFor([&] { return proc_.state() == QProcess::NotRunning; }, timeoutMs))
            return -1;
        out_ = proc_.readAllStandardOutput();
        err_ = QString::fromLocal8Bit(proc_.readAllStandardError());
        return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
    }
    void signal(int sig) { ::kill(pid_t(proc_.processId()), sig); }
    QByteArray out() const { return out_; }
    QString err() const { return err_; }
    QJsonObject json() const {
        return QJsonDocument::fromJson(out_.trimmed().split('\n').last()).object();
    }

private:
    QProcess proc_;
    QByteArray out_;
    QString err_;
};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What a trace says went out, without the times.
QStringList outLines(const QString& path) {
    QStringList lines;
    for (const QByteArray& line : readAll(path).split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() >= 5 && f[2] == "out")
            lines << QString::fromLatin1(f[3] + ' ' + f[4]);
    }
    return lines;
}

} // namespace

class StationEndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(QFile::exists(stationBinary())); }

    // A text file each way between two stations, byte for byte; the
    // receiver ends as the window's does, after the idle timeout.
    void textBothWays() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        QByteArray text;
        for (int i = 0; i < 40; ++i)
            text += "line " + QByteArray::number(i) + " \xe9\xff\t" + QByteArray(i, 'x') + "\r\n";
        text += "\r\n";
        const QString file = test::writeFile(dir_, "text.txt", text);
        for (const bool toSlave : {true, false}) {
            const QString rx = toSlave ? "b" : "a", tx = toSlave ? "a" : "b";
            const QString got = path("got-" + rx + ".txt");
            QStringList rxArgs{"receive-text", "--port", sim.linkPath(rx), "--out", got, "--json"};
            QStringList txArgs{"--port", sim.linkPath(tx), "send-text", file, "--json"};
            (toSlave ? rxArgs : txArgs) << "--slave";
            if (toSlave)
                txArgs << "--remote"
                       << "7";
            Run receiver(rxArgs);
            QVERIFY(sim.waitStations({rx}));
            Run sender(txArgs);
            QCOMPARE(sender.finish(), 0);
            QCOMPARE(sender.json().value("lines").toInt(), 41);
            QCOMPARE(sender.json().value("version").toString(), QStringLiteral("1.2"));
            QCOMPARE(receiver.finish(), 0);
            QCOMPARE(receiver.json().value("lines").toInt(), 41);
            QCOMPARE(readAll(got), text);
            QVERIFY(!QFile::exists(got + ".part"));
            if (!toSlave)
                QCOMPARE(receiver.json().value("sender").toInt(), 7);
        }
    }

    // The bytes send-text puts on the wire are those of the window's sender.
    void sendTextWritesWhatTheWindowWrites() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        const QByteArray text = "first\r\nsecond\n\nthird \x80\rlast";
        const QString file = test::writeFile(dir_, "trace.txt", text);
        const QString windowTrace = path("window.trace"), stationTrace = path("station.trace");
        {
            auto channel = test::openStation(1, sim.linkPath("a"));
            QVERIFY(channel);
            channel->setTraceName(QStringLiteral("text"));
            StationSettings settings;
            settings.setLineSetting(9);
            settings.setRemoteAddress(7);
            text::TextSender sender(*channel, settings);
            QSignalSpy done(&sender, &text::TextSender::finished);
            WireTrace::restart(windowTrace);
            QVERIFY(sender.sendBytes(text));
            QVERIFY(done.wait(10000));
            WireTrace::restart(QString());
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVA2_TRACE", stationTrace);
        Run station({"send-text", file, "--port", sim.linkPath("a"), "--remote", "7"}, env);
        QCOMPARE(station.finish(), 0);
        const QStringList window = outLines(windowTrace);
        QCOMPARE(window.size(), 5);
        QCOMPARE(outLines(stationTrace), window);
    }

    // And those of send-image are the window's image sender's.
    void sendImageWritesWhatTheWindowWrites() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        QByteArray bytes;
        for (int i = 0; i < 500; ++i)
            bytes.append(char(i * 7));
        const QString file = test::writeFile(dir_, "blocks.bin", bytes);
        const QString windowTrace = path("window-image.trace");
        const QString stationTrace = path("station-image.trace");
        {
            auto channel = test::openStation(1, sim.linkPath("a"));
            QVERIFY(channel);
            channel->setTraceName(QStringLiteral("image"));
            channel->close();
            StationSettings settings;
            settings.setLineSetting(9);
            settings.setRemoteAddress(7);
            image::ImageSender sender(*channel, settings);
            QSignalSpy done(&sender, &image::ImageSender::finished);
            WireTrace::restart(windowTrace);
            QVERIFY(sender.send(file));
            QVERIFY(done.wait(10000));
            WireTrace::restart(QString());
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVA2_TRACE", stationTrace);
        Run station({"send-image", file, "--port", sim.linkPath("a"), "--remote", "7"}, env);
        QCOMPARE(station.finish(), 0);
        const QStringList window = outLines(windowTrace);
        QCOMPARE(window.size(), 1 + 6); // the header, five full blocks and the last
        QCOMPARE(outLines(stationTrace), window);
    }

    // An image from a master to a slave: the file as it was, with the
    // window's figures.
    void imageMasterToSlave() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        QImage picture(60, 40, QImage::Format_RGB32);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x)
                picture.setPixel(x, y, qRgb(x * 4, y * 6, (x * y) % 256));
        const QString file = path("picture.bmp");
        QVERIFY(picture.save(file));
        const QString got = path("got.bmp");
        Run receiver(
            {"receive-image", "--slave", "--port", sim.linkPath("b"), "--out", got, "--json"});
        QVERIFY(sim.waitStations({"b"}));
        Run sender({"send-image", file, "--port", sim.linkPath("a"), "--remote", "7", "--json"});
        QCOMPARE(sender.finish(), 0);
        QCOMPARE(receiver.finish(), 0);
        QCOMPARE(readAll(got), readAll(file));
        const QJsonObject r = receiver.json();
        QCOMPARE(r.value("verdict").toString(), QStringLiteral("complete"));
        QCOMPARE(r.value("bytes").toInteger(), QFileInfo(file).size());
        const double seconds = r.value("seconds").toDouble();
        QVERIFY(seconds > 0);
        QCOMPARE(r.value("bit_rate").toInteger(), qRound64(QFileInfo(file).size() * 8 / seconds));
    }

    // The master counts a good reply, a wrong command and a silent slave.
    // A reply comes some 500 ms after its query (the slave answers once the
    // query has been followed by the polling channel's silence) and is cut
    // 500 ms later again: the pause leaves room for both.
    void pollCountsWhatTheSlavesSay() {
        SimProcess sim({"a=master:0", "b=slave:7", "c=slave:9", "d=slave:12"});
        QVERIFY(sim.start());
        Run seven({"respond", "--slave", "--port", sim.linkPath("b"), "--command", "PING",
                   "--reply", "PONG", "--json"});
        Run nine({"respond", "--slave", "--port", sim.linkPath("c"), "--command", "OTHER",
                  "--reply", "X", "--json"});
        QVERIFY(sim.waitStations({"b", "c"}));
        Run master({"poll", "--port", sim.linkPath("a"), "--row", "7:PING", "--row", "9:PING",
                    "--row", "12:PING", "--cycles", "2", "--pause-ms", "1500", "--json"});
        QCOMPARE(master.finish(), 0);
        const QJsonArray rows = master.json().value("rows").toArray();
        QCOMPARE(rows.size(), 3);
        const auto row = [&](int i, const char* key) {
            return rows[i].toObject().value(key).toInt();
        };
        QCOMPARE(row(0, "address"), 7);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(row(i, "queries"), 2);
        QCOMPARE(row(0, "ok"), 2);
        QCOMPARE(row(0, "no_reply"), 0);
        QCOMPARE(row(1, "wrong"), 2);
        QCOMPARE(row(1, "ok"), 0);
        QCOMPARE(row(2, "no_reply"), 2);
        QCOMPARE(row(2, "ok") + row(2, "wrong"), 0);
        const QJsonObject rtt = rows[0].toObject().value("rtt_ms").toObject();
        QVERIFY(rtt.value("min").toDouble() > 500);
        QVERIFY(rtt.value("p99").toDouble() < 1400);
        seven.signal(SIGINT);
        nine.signal(SIGINT);
        QCOMPARE(seven.finish(), 130);
        QCOMPARE(nine.finish(), 130);
        QCOMPARE(seven.json().value("answered").toInt(), 2);
        QCOMPARE(nine.json().value("refused").toInt(), 2);
    }

    // Register reads and writes against a module in programming mode.
    void registersOfAModuleInProgrammingMode() {
        SimProcess sim({"p=prog:5"});
        QVERIFY(sim.start());
        const QString port = sim.linkPath("p");
        Run read({"read-reg", "address", "--port", port, "--json"});
        QCOMPARE(read.finish(), 0);
        QCOMPARE(read.json().value("value").toInt(), 5);
        Run write({"write-reg", "address", "42", "--port", port, "--json"});
        QCOMPARE(write.finish(), 0);
        QCOMPARE(write.json().value("status").toString(),
                 QStringLiteral("Operation done. The new address is 42"));
        // 2.5 goes out as 2 and reads back as 2, not the 2.5 asked for.
        Run half({"write-reg", "--port", port, "address", "2.5"});
        QCOMPARE(half.finish(), 1);
        QVERIFY2(half.err().contains("Operation failed. Check the settings!"),
                 qPrintable(half.err()));
        // --com N finds the device as the window does: RAVA2_COMn first.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("RAVA2_COM3", port);
        Run viaCom({"read-reg", "address", "--com", "3", "--json"}, env);
        QCOMPARE(viaCom.finish(), 0);
        QCOMPARE(viaCom.json().value("value").toInt(), 2); // as the 2.5 above left it
        Run parity({"write-reg", "parity", "3", "--port", port, "--json"});
        QCOMPARE(parity.finish(), 0);
        QCOMPARE(parity.json().value("value").toInt(), 3);
    }

    // At 10 % loss per packet each direction loses about a tenth, nothing
    // damaged counts as good, and it all takes well under a minute.
    void linkTestMeasuresLoss() {
        SimProcess sim({"--loss", "0.1", "--seed", "7", "a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        Run echo({"echo", "--slave", "--port", sim.linkPath("b"), "--json"});
        QVERIFY(sim.waitStations({"b"}));
        QElapsedTimer clock;
        clock.start();
        Run test(
            {"linktest", "--port", sim.linkPath("a"), "--remote", "7", "--count", "300", "--json"});
        QCOMPARE(test.finish(), 0);
        QVERIFY(clock.elapsed() < 60000);
        const QJsonObject r = test.json();
        QCOMPARE(r.value("sent").toInt(), 300);
        QCOMPARE(r.value("damaged").toInt(), 0);
        QCOMPARE(r.value("duplicated").toInt(), 0);
        QCOMPARE(r.value("received").toInt() + r.value("lost").toInt(), 300);
        // Three standard deviations of a binomial count around 10 %.
        const QJsonObject to = r.value("to_echo").toObject();
        const QJsonObject from = r.value("from_echo").toObject();
        QVERIFY2(!to.isEmpty() && !from.isEmpty(), test.out().constData());
        const double toLoss = to.value("lost").toDouble() / to.value("sent").toDouble();
        const double fromLoss = from.value("lost").toDouble() / from.value("sent").toDouble();
        QVERIFY2(toLoss > 0.045 && toLoss < 0.155, qPrintable(QString::number(toLoss)));
        QVERIFY2(fromLoss > 0.045 && fromLoss < 0.16, qPrintable(QString::number(fromLoss)));
        const double ratio = r.value("throughput_ratio").toDouble();
        QVERIFY(ratio > 0 && ratio < 1);
        echo.signal(SIGINT);
        QCOMPARE(echo.finish(), 130);
        QCOMPARE(echo.json().value("received").toInt(), to.value("received").toInt());
    }

    // The simulator's latency shows in the round trip: twice, once each way.
    void linkTestSeesLatency() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        Run echo({"echo", "--slave", "--port", sim.linkPath("b")});
        QVERIFY(sim.waitStations({"b"}));
        const QStringList args{"linktest", "--port", sim.linkPath("a"), "--remote", "7",
                               "--count",  "20",     "--json"};
        Run before(args);
        QCOMPARE(before.finish(), 0);
        QVERIFY(sim.command("latency 50").join(' ').contains("ok"));
        Run after(args);
        QCOMPARE(after.finish(), 0);
        const auto rtt = [](const Run& r, const char* which) {
            return r.json().value("rtt_ms").toObject().value(which).toDouble();
        };
        QCOMPARE(after.json().value("received").toInt(), 20);
        // The typical round trip now against the best one before: no
        // faster than the line allowed then, plus 50 ms each way.
        QVERIFY2(rtt(after, "median") - rtt(before, "min") >= 100.0,
                 qPrintable(
                     QStringLiteral("%1 -> %2").arg(rtt(before, "min")).arg(rtt(after, "median"))));
        QVERIFY(rtt(after, "min") - rtt(before, "min") > 95.0);
    }

    // Bad input ends with 2 (usage) or 1 (the operation), saying why.
    void badInput() {
        const QString missing = path("no-such-device");
        Run noDevice({"send-text", path("x.txt"), "--port", missing});
        QCOMPARE(noDevice.finish(), 1);
        Run noDevice2({"echo", "--port", missing});
        QCOMPARE(noDevice2.finish(), 1);
        QVERIFY2(noDevice2.err().contains(missing), qPrintable(noDevice2.err()));
        Run badLine({"echo", "--line", "300,none,8,1"});
        QCOMPARE(badLine.finish(), 2);
        QVERIFY(badLine.err().contains("\"115200,none,8,1\""));
        Run address({"--remote", "256", "send-text", "x.txt"});
        QCOMPARE(address.finish(), 2);
        QVERIFY(address.err().contains("0 to 255"));

        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        Run unreadable({"send-text", path("not-there.txt"), "--port", sim.linkPath("a"), "--json"});
        QCOMPARE(unreadable.finish(), 1);
        QVERIFY2(unreadable.err().contains("not-there.txt"), qPrintable(unreadable.err()));
        QCOMPARE(unreadable.json().value("ok").toBool(true), false);
        // A device another program holds.
        Run holder({"echo", "--port", sim.linkPath("b"), "--slave"});
        QVERIFY(sim.waitStations({"b"}));
        Run held({"echo", "--port", sim.linkPath("b"), "--slave", "--duration", "1"});
        QCOMPARE(held.finish(), 1);
        QVERIFY2(!held.err().isEmpty(), "no message");
    }

    // SIGINT in the middle of a reception: exit 130, the lines that came
    // kept in FILE.part, and no FILE that looks whole.
    void interruptedReceptionKeepsWhatCame() {
        SimProcess sim({"a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        const QString got = path("interrupted.txt");
        Run receiver({"receive-text", "--slave", "--port", sim.linkPath("b"), "--out", got,
                      "--idle-ms", "60000"});
        QVERIFY(sim.waitStations({"b"}));
        const QString file = test::writeFile(dir_, "three.txt", "one\r\ntwo\r\nthree\r\n");
        Run sender({"send-text", file, "--port", sim.linkPath("a"), "--remote", "7"});
        QCOMPARE(sender.finish(), 0);
        QTRY_COMPARE(readAll(got + ".part"), QByteArray("one\r\ntwo\r\nthree\r\n"));
        receiver.signal(SIGINT);
        QCOMPARE(receiver.finish(), 130);
        QVERIFY(!QFile::exists(got));
        QCOMPARE(readAll(got + ".part"), QByteArray("one\r\ntwo\r\nthree\r\n"));
        QVERIFY2(receiver.err().contains(got + ".part"), qPrintable(receiver.err()));
    }

    // SIGINT in the middle of an image: exit 130 and no picture file.
    void interruptedImageWritesNothing() {
        SimProcess sim({"--baud", "9600", "a=master:0", "b=slave:7"});
        QVERIFY(sim.start());
        const QString line = QStringLiteral("9600,none,8,1");
        const QString got = path("interrupted.bmp");
        Run receiver({"receive-image", "--slave", "--port", sim.linkPath("b"), "--out", got,
                      "--line", line, "--json"});
        QVERIFY(sim.waitStations({"b"}));
        const QString file = test::writeFile(dir_, "big.bin", QByteArray(20000, 'x'));
        Run sender(
            {"send-image", file, "--port", sim.linkPath("a"), "--remote", "7", "--line", line});
        QTest::qWait(1500);
        receiver.signal(SIGINT);
        QCOMPARE(receiver.finish(), 130);
        QVERIFY(!QFile::exists(got));
        const qint64 came = receiver.json().value("bytes").toInteger();
        QVERIFY2(came > 0 && came < 20000, qPrintable(QString::number(came)));
        sender.signal(SIGINT);
        QCOMPARE(sender.finish(), 130);
    }
};

QTEST_MAIN(StationEndToEndTest)
#include "test_station_end_to_end.moc"
