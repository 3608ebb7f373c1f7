// The station's wire trace beside the simulator's: a text file sent by a
// master shows up in both, each write as the packet the module delivers, on
// the same clock.
#include "link/station_settings.h"
#include "link/wire_trace.h"
#include "sim/sim_process.h"
#include "support/recording.h"
#include "text_transfer/text_sender.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace rava;

class WireTraceEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void textSendMatchesTheSimulatorsTrace() {
        QTemporaryDir dir;
        const QString toolTrace = dir.filePath(QStringLiteral("tool.trace"));
        const QString simTrace = dir.filePath(QStringLiteral("sim.trace"));
        test::SimProcess sim({"--trace", simTrace, "M=master:0", "S=slave:7"});
        QVERIFY(sim.start());
        WireTrace::restart(toolTrace);
        auto master = test::openStation(1, sim.linkPath(QStringLiteral("M")));
        auto slave = test::openStation(2, sim.linkPath(QStringLiteral("S")));
        QVERIFY(master && slave);
        master->setTraceName(QStringLiteral("text"));
        StationSettings station;
        station.setLineSetting(kDefaultLineSetting);
        station.setRemoteAddress(7);
        text::TextSender sender(*master, station);
        QSignalSpy done(&sender, &text::TextSender::finished);
        const QByteArray file = "first\r\n\r\nthird line\r\n";
        QVERIFY(sender.send(test::writeFile(dir, QStringLiteral("f.txt"), file)));
        QVERIFY(done.wait(5000));
        QCOMPARE(test::receive(*slave, file.size()), file);
        WireTrace::restart(QString());

        // "TIME text out LENGTH HEX" against "TIME M S LENGTH HEX".
        auto read = [](const QString& path, const QByteArray& from, const QByteArray& to) {
            QFile f(path);
            QList<QList<QByteArray>> kept;
            if (f.open(QIODevice::ReadOnly))
                for (const QByteArray& line : f.readAll().split('\n')) {
                    const QList<QByteArray> fields = line.split(' ');
                    if (fields.size() >= 5 && fields[1] == from && fields[2] == to)
                        kept << fields;
                }
            return kept;
        };
        const auto writes = read(toolTrace, "text", "out");
        const auto packets = read(simTrace, "M", "S");
        QCOMPARE(writes.size(), 3);
        QCOMPARE(packets.size(), writes.size());
        for (int i = 0; i < writes.size(); ++i) {
            // The module delivers what the master wrote less its address byte.
            QCOMPARE(packets[i][3].toInt() + 1, writes[i][3].toInt());
            QCOMPARE("07" + packets[i][4], writes[i][4]);
            // The module relays a packet after the station wrote it, and
            // well within a second on the same clock.
            const double lag = packets[i][0].toDouble() - writes[i][0].toDouble();
            QVERIFY2(lag >= 0 && lag < 1000, qPrintable(QString::number(lag)));
        }
        QCOMPARE(writes[0][4], QByteArray("0766697273740d0a"));
    }
};

QTEST_MAIN(WireTraceEndToEndTest)
#include "test_wire_trace_end_to_end.moc"
