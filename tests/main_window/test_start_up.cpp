// Start-up choices from the command line and the keys that move between tabs
// and controls.
#include "link/serial_channel.h"
#include "main_window/start_options.h"
#include "window_helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryFile>

using namespace rava;

class StartUpTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void cleanup() { window.reset(); }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome"); // "port line slave remote" or the refusal's words
        QTest::newRow("nothing") << QStringList{} << "- - 0 -";
        QTest::newRow("all of a master")
            << QStringList{"--port", "3", "--line", "9600,none,8,1", "--remote=7"} << "3 0 0 7";
        QTest::newRow("full stop as the list has it")
            << QStringList{"--line", "9600.even,8,1"} << "- 2 0 -";
        QTest::newRow("slave, Qt's own options left alone")
            << QStringList{"-platform", "offscreen", "--slave"} << "- - 1 -";
        QTest::newRow("port 5") << QStringList{"--port", "5"} << "1, 2, 3 or 4";
        QTest::newRow("port missing its value") << QStringList{"--port"} << "needs a value";
        QTest::newRow("unknown line")
            << QStringList{"--line", "4800,none,8,1"} << "\"115200,even,8,1\"";
        QTest::newRow("remote 2.5") << QStringList{"--remote", "2.5"} << "0 to 255";
        QTest::newRow("remote on a slave") << QStringList{"--slave", "--remote", "4"} << "master";
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << "--port, --line";
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        const StartOptions o = parseStartOptions(args);
        auto show = [](const std::optional<int>& v) {
            return v ? QString::number(*v) : QStringLiteral("-");
        };
        const QString got = o.ok() ? QStringLiteral("%1 %2 %3 %4")
                                         .arg(show(o.port), show(o.lineSetting))
                                         .arg(int(o.slave))
                                         .arg(show(o.remoteAddress))
                                   : o.error;
        QVERIFY2(got == outcome || (!o.ok() && got.contains(outcome)), qPrintable(got));
    }

    // The options act as the user's own choices would: the lists' handlers
    // move the channels, the Slave click disables the address box, the typed
    // address goes through its filter.
    void optionsGoThroughTheHandlers() {
        start();
        window->applyStartOptions(
            parseStartOptions({"--port", "2", "--line", "57600,odd,8,1", "--remote", "200"}));
        QCOMPARE(window->link().textChannel().port(), 2);
        QCOMPARE(window->link().programmingChannel().port(), 1);
        QCOMPARE(window->link().imageChannel().settings(), QStringLiteral("57600,o,8,1"));
        QCOMPARE(get<QComboBox>("Combo2")->currentText(), QStringLiteral("57600,odd,8,1"));
        QCOMPARE(get<QLineEdit>("Text12")->text(), QStringLiteral("200"));
        QCOMPARE(window->settings().remoteAddress(), 200);

        window->applyStartOptions(parseStartOptions({"--slave"}));
        QVERIFY(get<QRadioButton>("Option2")->isChecked());
        QVERIFY(!window->settings().isMaster());
        QVERIFY(!get("Text12")->isEnabled());
        QCOMPARE(window->settings().remoteAddress(), 0);
    }

    void portTipSaysWhetherEachDeviceIsThere() {
        QTemporaryFile device;
        QVERIFY(device.open());
        const QString path = device.fileName();
        qputenv("RAVA2_COM2", path.toLocal8Bit());
        QCOMPARE(portListTip().section('\n', 1, 1), "COM 2: " + path + " (present)");
        device.remove();
        QCOMPARE(portListTip().section('\n', 1, 1), "COM 2: " + path + " (missing)");
        qunsetenv("RAVA2_COM2");
    }

    void keysMoveBetweenEnabledTabs() {
        start();
        auto press = [this](QKeyCombination key) {
            QTest::keyClick(window.get(), key.key(), key.keyboardModifiers());
            return currentTab();
        };
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::SendText);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageDown), Tab::ReceiveText);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageUp), Tab::SendText);
        QCOMPARE(press(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), Tab::SetUp);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageUp), Tab::Help); // round the end
        // While a transfer locks the others, the keys stay on its tab.
        window->context().lockTabs(Tab::Help, true);
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::Help);
        window->context().lockTabs(Tab::Help, false);
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::SetUp);
    }

    // Tab reaches every enabled control of the page in front (of a group of
    // options, the chosen one), going down the page, never back up by more
    // than a row.
    void tabKeyReachesEveryControlOfThePage() {
        start();
        QList<QWidget*> wanted, seen;
        for (QWidget* w : window->tabStrip()->page(int(Tab::SetUp))->findChildren<QWidget*>()) {
            auto* option = qobject_cast<QRadioButton*>(w);
            if (!w->objectName().isEmpty() && w->isEnabled() && w->focusPolicy() & Qt::TabFocus &&
                (!option || option->isChecked()))
                wanted << w;
        }
        QVERIFY(wanted.size() >= 8);
        get("Combo1")->setFocus();
        for (int i = 0; i < 60; ++i) {
            QWidget* w = QApplication::focusWidget();
            if (wanted.contains(w) && !seen.contains(w))
                seen << w;
            QTest::keyClick(w, Qt::Key_Tab);
        }
        QCOMPARE(seen.size(), wanted.size());
        for (int i = 1; i < seen.size(); ++i)
            QVERIFY2(seen[i]->mapTo(window.get(), QPoint()).y() >=
                         seen[i - 1]->mapTo(window.get(), QPoint()).y() - 30,
                     qPrintable(seen[i]->objectName()));
    }
};

QTEST_MAIN(StartUpTest)
#include "test_start_up.moc"
