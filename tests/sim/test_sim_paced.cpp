// A mebibyte through the simulator at the line's rate: about a minute and a
// half, so it runs as a test of its own.
#include "sim_process.h"

#include <QElapsedTimer>
#include <QtTest>

#include <unistd.h>

using namespace rava::test;

class SimPacedTest : public QObject {
    Q_OBJECT
private slots:
    void aSlaveFlatOutArrivesWholeAtTheLinesRate() {
        SimProcess sim({"M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        const int master = openRaw(sim.linkPath("M"));
        const int slave = openRaw(sim.linkPath("S"));
        QVERIFY(master >= 0 && slave >= 0 && sim.waitStations({"M", "S"}));
        const QByteArray data = pattern(1 << 20);
        // 10 bits a byte at 115200 baud: 11,520 bytes a second.
        const double lineMs = 1000.0 * data.size() / 11520;
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        qint64 writeMs = -1;
        {
            FlatOutWriter writer(slave, data);
            got = readRaw(master, data.size() + 16, 10000);
            writeMs = writer.msToFinish();
        }
        const qint64 elapsed = clock.elapsed();
        ::close(master);
        ::close(slave);
        // Whole and in order: 16 packets cut at 65,536 bytes, each after the
        // slave's address.
        QCOMPARE(got.size(), data.size() + 16);
        QByteArray expected;
        for (qsizetype at = 0; at < data.size(); at += 65536)
            expected += char(7) + data.mid(at, 65536);
        QVERIFY(got == expected);
        // Paced: no faster than the line, and the slave's writes waited for
        // it (all but what the kernel and the module's buffer hold).
        QVERIFY2(elapsed >= qint64(lineMs), qPrintable(QString::number(elapsed)));
        QVERIFY2(writeMs >= qint64(1000.0 * (data.size() - 65536) / 11520),
                 qPrintable(QString::number(writeMs)));
    }
};

QTEST_GUILESS_MAIN(SimPacedTest)
#include "test_sim_paced.moc"
