// Register programming from the window's "Set up" tab against the module
// simulator with the real waits: in programming mode, and once the module has
// left it and no longer answers.
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace rava;

class RegisterEndToEndTest : public QObject {
    Q_OBJECT

    // Types `value` into `box` (if given), clicks `button` and returns the
    // outcome the status line shows.
    static QString operate(MainWindow& win, const char* button, const char* box = "",
                           const char* value = "") {
        if (auto* edit = *box ? win.findChild<QLineEdit*>(QLatin1String(box)) : nullptr)
            edit->setText(value);
        auto* status = win.findChild<QLabel*>(QStringLiteral("Label17"));
        QTest::mouseClick(win.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return !status->text().isEmpty(); });
        return status->text();
    }

private slots:
    // Read the address, write a new one (read back by the write), write parity 3
    // and read it; the module itself, leaving programming mode, confirms.
    // Then nobody answers: the failure comes after the reply timeout and the
    // channel is closed again.
    void programTheModule() {
        test::SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        test::RecordingMessenger messages;
        MainWindow win;
        win.setMessenger(&messages);
        QCOMPARE(operate(win, "Command16"), "Address is 5");
        QCOMPARE(operate(win, "Command17", "Text5", "200"),
                 "Operation done. The new address is 200");
        QCOMPARE(operate(win, "Command19", "Text7", "3"), "Operation done. The new parity is 3");
        QCOMPARE(operate(win, "Command18"), "Parity is 3");
        QCOMPARE(sim.command(QStringLiteral("prog P off")),
                 QStringList{QStringLiteral("ok prog P off address=200 parity=even")});

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(operate(win, "Command16"), "Operation failed. Check the settings!");
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!win.link().programmingChannel().isOpen() && messages.errors.isEmpty());
    }
};

QTEST_MAIN(RegisterEndToEndTest)
#include "test_register_end_to_end.moc"
