// rava2-station against the window: one text transfer each way.
#include "main_window/main_window.h"
#include "main_window/start_options.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace rava;
using rava::test::SimProcess;

class StationWithWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    static int runStation(const QStringList& args, QByteArray* out = nullptr) {
        QProcess p;
        p.start(QStringLiteral(RAVA2_BIN_DIR "/rava2-station"), args);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 60000))
            return -1;
        if (out)
            *out = p.readAllStandardOutput();
        return p.exitCode();
    }

private slots:
    void textEachWay() {
        SimProcess sim({"m=master:0", "s=slave:7"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("m")).toLocal8Bit());
        MainWindow window;
        test::RecordingMessenger says;
        window.setMessenger(&says);
        StartOptions options;
        options.remoteAddress = 7;
        window.applyStartOptions(options);
        const auto at = [&](const char* name) { return window.findChild<QWidget*>(name); };

        // The window (master) sends; the station (slave) receives.
        const QByteArray text = "from the window\r\nsecond \xe9\r\n\r\nlast\r\n";
        const QString file = test::writeFile(dir_, QStringLiteral("w.txt"), text);
        const QString got = dir_.filePath(QStringLiteral("got.txt"));
        QProcess receiver;
        receiver.start(QStringLiteral(RAVA2_BIN_DIR "/rava2-station"),
                       {"receive-text", "--slave", "--port", sim.linkPath("s"), "--out", got});
        QVERIFY(sim.waitStations({"s"}));
        window.setFileChooser([file](const QString&, const QString&) { return file; });
        QTest::mouseClick(at("Command3"), Qt::LeftButton);
        QTRY_VERIFY(at("Command4")->isEnabled());
        QTest::mouseClick(at("Command4"), Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return receiver.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(receiver.exitCode(), 0);
        QFile f(got);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), text);

        // The station (slave) sends; the window (master) shows the lines
        // and the sender's address.
        QTest::mouseClick(at("Command6"), Qt::LeftButton);
        const QString back =
            test::writeFile(dir_, QStringLiteral("s.txt"), "from the station\r\nbye\r\n");
        QCOMPARE(runStation({"send-text", back, "--slave", "--port", sim.linkPath("s")}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(at("Text2")->property("plainText").toString(),
                                  QStringLiteral("from the station\nbye"), 10000);
        QCOMPARE(at("Text8")->property("text").toString(), QStringLiteral("7"));
        QVERIFY2(says.errors.isEmpty(), qPrintable(says.errors.join('\n')));
    }
};

QTEST_MAIN(StationWithWindowTest)
#include "test_station_with_window.moc"
