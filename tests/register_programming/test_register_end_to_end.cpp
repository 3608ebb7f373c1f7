// Register programming from the window's "Set up" tab against the module
// simulator in programming mode, with the real waits; and against no module.
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "support/pty.h"
#include "support/recording.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <csignal>

using namespace rava;
using rava::test::SimProcess;

namespace {
const QString kFailed = QStringLiteral("Operation failed. Check the settings!");
}

class RegisterEndToEndTest : public QObject {
    Q_OBJECT

    test::RecordingMessenger messages_;

    template <typename T> static T* at(MainWindow& win, const char* name) {
        T* w = win.findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no %s", name);
        return w;
    }

    // Clicks `button` and waits for the status line to show an outcome;
    // returns it and the time it took.
    static QString operate(MainWindow& win, const char* button, qint64* tookMs = nullptr) {
        QLabel* status = at<QLabel>(win, "Label17");
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(at<QPushButton>(win, button), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !status->text().isEmpty(); }, 5000))
            return QStringLiteral("(no outcome)");
        if (tookMs)
            *tookMs = clock.elapsed();
        return status->text();
    }

    static void type(MainWindow& win, const char* box, const QString& text) {
        auto* edit = at<QLineEdit>(win, box);
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    static bool buttonsEnabled(MainWindow& win) {
        for (const char* name : {"Command16", "Command17", "Command18", "Command19"})
            if (!at<QPushButton>(win, name)->isEnabled())
                return false;
        return true;
    }

private slots:
    void init() {
        messages_.errors.clear();
        for (const char* name : {"RAVA2_COM1", "RAVA2_COM2"})
            qunsetenv(name);
    }

    // Read the address, write a new one and read it back, write parity 3 and
    // read it back; the module itself, leaving programming mode, confirms.
    void programTheModule() {
        SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        // The other features use COM 2; the programming channel stays on
        // COM 1 whatever port is chosen.
        qputenv("RAVA2_COM2", "/nonexistent/rava-com2");
        MainWindow win;
        win.setMessenger(&messages_);
        at<QComboBox>(win, "Combo1")->setCurrentIndex(1);

        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 5"));
        QCOMPARE(operate(win, "Command18"), QStringLiteral("Parity is 0"));

        type(win, "Text5", QStringLiteral("200"));
        qint64 took = 0;
        QCOMPARE(operate(win, "Command17", &took),
                 QStringLiteral("Operation done. The new address is 200"));
        QVERIFY2(took >= 1000, qPrintable(QString::number(took))); // the settle wait
        QVERIFY(buttonsEnabled(win));
        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 200"));

        type(win, "Text7", QStringLiteral("3"));
        QCOMPARE(operate(win, "Command19"), QStringLiteral("Operation done. The new parity is 3"));
        QCOMPARE(operate(win, "Command18"), QStringLiteral("Parity is 3"));

        // 2.5 is written as 2, and then reported as failed.
        type(win, "Text5", QStringLiteral("2.5"));
        QCOMPARE(operate(win, "Command17"), kFailed);
        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 2"));

        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join('\n')));
        QCOMPARE(sim.command(QStringLiteral("prog P off")),
                 QStringList{QStringLiteral("ok prog P off address=2 parity=even")});
    }

    // A line setting other than the module's garbles the request: no reply.
    void wrongLineSetting() {
        SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        MainWindow win;
        win.setMessenger(&messages_);
        at<QComboBox>(win, "Combo2")->setCurrentIndex(0); // 9600, the module runs at 115200
        QCOMPARE(operate(win, "Command16"), kFailed);
        at<QComboBox>(win, "Combo2")->setCurrentIndex(9); // 115200,none
        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 5"));
    }

    // Clicks while an operation runs open nothing a second time.
    void clicksWhilePending() {
        SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        MainWindow win;
        win.setMessenger(&messages_);
        type(win, "Text5", QStringLiteral("6"));
        QLabel* status = at<QLabel>(win, "Label17");
        QTest::mouseClick(at<QPushButton>(win, "Command17"), Qt::LeftButton);
        QTest::qWait(200);
        for (const char* name : {"Command16", "Command17", "Command18", "Command19"})
            QTest::mouseClick(at<QPushButton>(win, name), Qt::LeftButton);
        QVERIFY(status->text().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(status->text(),
                                  QStringLiteral("Operation done. The new address is 6"), 5000);
        QVERIFY(messages_.errors.isEmpty());
        // Nothing queued behind it: the line stays as the write left it.
        QTest::qWait(1500);
        QCOMPARE(status->text(), QStringLiteral("Operation done. The new address is 6"));
    }

    // No module answers on COM 1: the failure comes after the reply
    // timeout, after the settle wait too for a write.
    void silentLine_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<int>("atLeastMs");
        QTest::newRow("read") << QByteArray("Command16") << 1000;
        QTest::newRow("write") << QByteArray("Command19") << 2000;
    }
    void silentLine() {
        QFETCH(QByteArray, button);
        QFETCH(int, atLeastMs);
        test::Pty line;
        QVERIFY(line.valid());
        qputenv("RAVA2_COM1", line.stationPath().toLocal8Bit());
        MainWindow win;
        win.setMessenger(&messages_);
        qint64 took = 0;
        QCOMPARE(operate(win, button.constData(), &took), kFailed);
        QVERIFY2(took >= atLeastMs && took < atLeastMs + 1500, qPrintable(QString::number(took)));
        // The channel is closed again.
        QVERIFY(line.waitStationOpen(false, 2000));
        QVERIFY(buttonsEnabled(win));
        QVERIFY(messages_.errors.isEmpty());
    }

    // Nothing behind COM 1: the operation ends at once, saying why.
    void noDevice() {
        qputenv("RAVA2_COM1", "/nonexistent/rava-com1");
        MainWindow win;
        win.setMessenger(&messages_);
        qint64 took = 0;
        QCOMPARE(operate(win, "Command17", &took), kFailed);
        QVERIFY(took < 500);
        QCOMPARE(messages_.errors.size(), 1);
        QVERIFY2(messages_.errors.first().contains(QLatin1String("COM 1")) &&
                     messages_.errors.first().contains(QLatin1String("/nonexistent/rava-com1")),
                 qPrintable(messages_.errors.first()));
        QVERIFY(buttonsEnabled(win));
    }

    // The simulator goes away during a write's settle wait.
    void moduleGoesAway() {
        SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        MainWindow win;
        win.setMessenger(&messages_);
        type(win, "Text5", QStringLiteral("8"));
        QTest::mouseClick(at<QPushButton>(win, "Command17"), Qt::LeftButton);
        QTest::qWait(300);
        QCOMPARE(sim.stop(SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(at<QLabel>(win, "Label17")->text(), kFailed, 5000);
        // The message says which port failed.
        QCOMPARE(messages_.errors.size(), 1);
        QVERIFY2(messages_.errors.first().contains(QLatin1String("COM 1")),
                 qPrintable(messages_.errors.first()));
        QVERIFY(buttonsEnabled(win));
    }
};

QTEST_MAIN(RegisterEndToEndTest)
#include "test_register_end_to_end.moc"
