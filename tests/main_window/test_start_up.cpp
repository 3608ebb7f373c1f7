// The window as it starts: the choices of the command line, controls inside
// their holders and apart with their captions whole, the user guide, and the
// keys that move between tabs and controls.
#include "main_window/start_options.h"
#include "main_window/user_guide.h"
#include "window_helpers.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryFile>

using namespace rava;

class StartUpTest : public test::WindowTest {
    Q_OBJECT
private slots:
    // What each command line gives: "port line slave remote", or words of its
    // refusal.
    void commandLine() {
        const std::pair<const char*, const char*> rows[] = {
            {"", "- - 0 -"},
            {"--port 3 --line 9600,none,8,1 --remote=7", "3 0 0 7"},
            {"--line 9600.even,8,1", "- 2 0 -"},        // a full stop, as the list has it
            {"-platform offscreen --slave", "- - 1 -"}, // Qt's own options left alone
            {"--port 5", "1, 2, 3 or 4"},
            {"--port", "needs a value"},
            {"--line 4800,none,8,1", "\"115200,even,8,1\""},
            {"--remote 2.5", "0 to 255"},
            {"--slave --remote 4", "master"},
            {"--baud 9600", "--port, --line"}};
        auto show = [](const std::optional<int>& v) {
            return v ? QString::number(*v) : QStringLiteral("-");
        };
        for (const auto& [args, outcome] : rows) {
            const StartOptions o = parseStartOptions(QString(args).split(' ', Qt::SkipEmptyParts));
            const QString got = o.ok() ? QStringLiteral("%1 %2 %3 %4")
                                             .arg(show(o.port), show(o.lineSetting))
                                             .arg(int(o.slave))
                                             .arg(show(o.remoteAddress))
                                       : o.error;
            QVERIFY2(got == outcome || (!o.ok() && got.contains(outcome)),
                     qPrintable(args + (" -> " + got)));
        }
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
        QCOMPARE(settingsText(window->link().imageChannel().lineParams()),
                 QStringLiteral("57600,o,8,1"));
        QCOMPARE(get<QComboBox>("Combo2")->currentText(), QStringLiteral("57600,odd,8,1"));
        QVERIFY(get<QLineEdit>("Text12")->text() == "200" &&
                window->settings().remoteAddress() == 200);

        window->applyStartOptions(parseStartOptions({"--slave"}));
        QVERIFY(get<QRadioButton>("Option2")->isChecked() && !window->settings().isMaster());
        QVERIFY(!get("Text12")->isEnabled() && window->settings().remoteAddress() == 0);
    }

    void portTipSaysWhetherEachDeviceIsThere() {
        QTemporaryFile device;
        QVERIFY(device.open());
        qputenv("RAVA2_COM2", device.fileName().toLocal8Bit());
        QCOMPARE(portListTip().section('\n', 1, 1),
                 "COM 2: " + device.fileName() + " (RAVA2_COM2, present)");
        device.remove();
        QVERIFY(portListTip().section('\n', 1, 1).endsWith(" (RAVA2_COM2, missing)"));
        qunsetenv("RAVA2_COM2");
    }

    // Every control of a page lies inside what holds it (its frame, or the
    // strip below the tab row) and no two controls that take input or draw a
    // box overlap (labels are transparent and may reach under a neighbour).
    void layoutAndHelpPage() {
        start();
        TabStrip* strip = window->tabStrip();
        QStringList faults;
        auto check = [&](QWidget* holder, const QRect& room) {
            QList<QWidget*> solid;
            for (QWidget* w : holder->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (w->objectName().isEmpty())
                    continue;
                if (!room.contains(w->geometry()))
                    faults << w->objectName() + " outside " + holder->objectName();
                if (!qobject_cast<QLabel*>(w))
                    solid << w;
            }
            for (int a = 0; a < solid.size(); ++a)
                for (int b = a + 1; b < solid.size(); ++b)
                    if (solid[a]->geometry().intersects(solid[b]->geometry()))
                        faults << solid[a]->objectName() + " overlaps " + solid[b]->objectName();
        };
        for (int t = 0; t < kTabCount; ++t) {
            check(strip->page(t), strip->rect().adjusted(0, strip->tabBar()->height(), 0, 0));
            for (QWidget* frame : strip->page(t)->findChildren<QGroupBox*>())
                check(frame, frame->rect());
        }
        // A caption is never cut off by its control: button captions fit the
        // width, label captions fit the height (the descent of the last line
        // aside, where no letter of these captions reaches).
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->objectName().isEmpty())
                continue;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                if (label->text().isEmpty() || !label->pixmap().isNull())
                    continue;
                const int need = label->wordWrap() ? label->heightForWidth(label->width())
                                                   : label->sizeHint().height();
                if (need - label->fontMetrics().descent() > label->height())
                    faults << label->objectName() + " cut off";
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                const int extra = qobject_cast<QPushButton*>(w) ? 4 : 18; // box or circle
                if (button->fontMetrics().horizontalAdvance(button->text()) + extra >
                    button->width())
                    faults << button->objectName() + " cut off";
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
        // Every line of the guide ends in CR LF; the help page shows it line for line.
        const QStringList lines = userGuideText().split(QStringLiteral("\r\n"));
        QVERIFY(lines.size() > 1);
        QCOMPARE(userGuideText().count(QLatin1Char('\n')), lines.size() - 1);
        QCOMPARE(userGuideText().count(QLatin1Char('\r')), lines.size() - 1);
        QCOMPARE(get<QPlainTextEdit>("Text3")->toPlainText().split(QLatin1Char('\n')), lines);
    }

    // Ctrl+Tab and its kin move between the tabs (round the end, never off a
    // locked one); Tab reaches every enabled control of the page in front (of
    // a group of options, the chosen one), going down the page, never back up
    // by more than a row.
    void keyboard() {
        start();
        auto press = [this](QKeyCombination key) {
            QTest::keyClick(window.get(), key.key(), key.keyboardModifiers());
            return currentTab();
        };
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::SendText);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageDown), Tab::ReceiveText);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageUp), Tab::SendText);
        QCOMPARE(press(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), Tab::SetUp);
        window->context().lockTabs(Tab::SetUp, true);
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::SetUp);
        window->context().lockTabs(Tab::SetUp, false);
        QCOMPARE(press(Qt::CTRL | Qt::Key_PageUp), Tab::Help);
        QCOMPARE(press(Qt::CTRL | Qt::Key_Tab), Tab::SetUp);
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
