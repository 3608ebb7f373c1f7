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
    static QString operate(MainWindow& win, const char* button, const char* box = nullptr,
                           const QString& value = {}) {
        if (auto* edit = box ? win.findChild<QLineEdit*>(QLatin1String(box)) : nullptr) {
            edit->clear();
            QTest::keyClicks(edit, value);
        }
        auto* status = win.findChild<QLabel*>(QStringLiteral("Label17"));
        QTest::mouseClick(win.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return !status->text().isEmpty(); }, 5000);
        return status->text();
    }

private slots:
    // Read the address, write a new one and read it back, write parity 3 and
    // read it back; the module itself, leaving programming mode, confirms.
    // Then nobody answers: the failure comes after the reply timeout and the
    // channel is closed again.
    void programTheModule() {
        test::SimProcess sim({"P=prog:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("P")).toLocal8Bit());
        test::RecordingMessenger messages;
        MainWindow win;
        win.setMessenger(&messages);
        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 5"));
        QCOMPARE(operate(win, "Command17", "Text5", QStringLiteral("200")),
                 QStringLiteral("Operation done. The new address is 200"));
        QCOMPARE(operate(win, "Command16"), QStringLiteral("Address is 200"));
        QCOMPARE(operate(win, "Command19", "Text7", QStringLiteral("3")),
                 QStringLiteral("Operation done. The new parity is 3"));
        QCOMPARE(operate(win, "Command18"), QStringLiteral("Parity is 3"));
        QCOMPARE(sim.command(QStringLiteral("prog P off")),
                 QStringList{QStringLiteral("ok prog P off address=200 parity=even")});

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(operate(win, "Command16"),
                 QStringLiteral("Operation failed. Check the settings!"));
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!win.link().programmingChannel().isOpen());
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join('\n')));
    }
};

QTEST_MAIN(RegisterEndToEndTest)
#include "test_register_end_to_end.moc"
