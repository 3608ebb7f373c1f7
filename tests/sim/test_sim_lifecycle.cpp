// Starting and ending the simulator: links, announcements, signals and the
// refusal of bad arguments before anything is created.
#include "sim_process.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>

using namespace rava::test;

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome runSim(const QStringList& args) {
    QProcess p;
    p.start(simBinary(), args);
    Outcome o;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(p.readAllStandardError());
    return o;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                               QDir::NoDotAndDotDot);
}

} // namespace

class SimLifecycleTest : public QObject {
    Q_OBJECT
private slots:
    void announcesLinksAndRemovesThemOnASignal_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void announcesLinksAndRemovesThemOnASignal() {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess p;
        p.start(simBinary(), {"--dir", dir.path(), "M=master:0", "S=slave:7@9600"});
        QVERIFY(p.waitForStarted());
        QStringList lines;
        while (!lines.contains("ready") && p.waitForReadyRead(10000))
            while (p.canReadLine())
                lines << QString::fromLocal8Bit(p.readLine()).trimmed();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.last(), QString("ready"));
        for (int i = 0; i < 2; ++i) {
            const QStringList f = lines[i].split(' ');
            QCOMPARE(f.size(), 2);
            QCOMPARE(f[0], QString(i == 0 ? "M" : "S"));
            const QFileInfo link(dir.filePath(f[0]));
            QVERIFY(link.isSymLink());
            QCOMPARE(link.symLinkTarget(), f[1]);
            QVERIFY(QFileInfo(f[1]).exists());
        }
        // A station holding its port open does not keep the simulator alive.
        auto station = openStation(1, dir.filePath("M"));
        QVERIFY(station);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(entries(dir.path()), QStringList());
    }

    void replacesLinksLeftBehindButNothingElse() {
        QTemporaryDir dir;
        QVERIFY(QFile::link("/nonexistent/pts", dir.filePath("M")));
        QProcess p;
        p.start(simBinary(), {"--dir", dir.path(), "M=master:0"});
        QVERIFY(p.waitForReadyRead(10000));
        while (!p.readAll().contains("ready"))
            QVERIFY(p.waitForReadyRead(10000));
        QVERIFY(QFileInfo(dir.filePath("M")).symLinkTarget().startsWith("/dev/"));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(entries(dir.path()), QStringList());

        QFile keep(dir.filePath("S"));
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.write("mine");
        keep.close();
        const Outcome o = runSim({"--dir", dir.path(), "M=master:0", "S=slave:7"});
        QVERIFY(o.exitCode > 0);
        QVERIFY2(o.err.contains("not a link"), qPrintable(o.err));
        QCOMPARE(entries(dir.path()), QStringList{"S"});
        QVERIFY(keep.open(QIODevice::ReadOnly));
        QCOMPARE(keep.readAll(), QByteArray("mine"));
    }

    void badArgumentsEndBeforeAnythingIsCreated_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("address 300") << QStringList{"M=master:300"} << "0 to 255";
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
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QStringList full = args;
        full.replaceInStrings("@FILE@", file.fileName());
        if (!full.contains("--dir"))
            full << "--dir" << dir.path();
        const Outcome o = runSim(full);
        QVERIFY(o.exitCode > 0);
        QVERIFY2(o.err.contains(message), qPrintable(o.err));
        QVERIFY(!o.out.contains("ready"));
        QCOMPARE(entries(dir.path()), QStringList{"file"});
    }

    void helpPrintsUsage() {
        const Outcome o = runSim({"--help"});
        QCOMPARE(o.exitCode, 0);
        QVERIFY(o.out.startsWith("usage: rava2-sim"));
        QVERIFY(o.out.contains("prog NAME on|off"));
    }
};

QTEST_MAIN(SimLifecycleTest)
#include "test_sim_lifecycle.moc"
