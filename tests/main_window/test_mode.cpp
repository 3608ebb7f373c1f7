// The enabling that follows Master and Slave with the remote address box, and a
// slave's polling channel, open exactly while the "Polling" tab is current.
#include "support/pty.h"
#include "window_helpers.h"

#include <QLineEdit>

using namespace rava;

class ModeTest : public test::WindowTest {
    Q_OBJECT

    SerialChannel& polling() { return window->link().pollingChannel(); }

private slots:
    void cleanup() {
        window.reset();
        qunsetenv("RAVA2_COM1");
    }

    // The master's controls are enabled at creation and after a Master
    // click, the slave's only after a Slave click; End waits for a Master
    // click. Controls outside these keep their state.
    // Every key in the address box is filtered at once (256 is no byte), the
    // pages see the result, and a Slave click empties it.
    void enablingFollowsTheMode() {
        start();
        auto* box = get<QLineEdit>("Text12");
        QTest::keyClicks(box, "25");
        QCOMPARE(window->settings().remoteAddress(), 25);
        QTest::keyClicks(box, "6");
        QVERIFY(box->text().isEmpty() && window->settings().remoteAddress() == 0);
        QTest::keyClicks(box, "7");
        QStringList master{"Label7",  "Text12",  "Frame9",    "Label3",
                           "Label20", "Label21", "Command15", "Command20"};
        for (int i = 1; i <= 5; ++i)
            for (const char* array : {"Check1", "Text4", "Text14", "Text19"})
                master << form::arrayMember(array, i);
        const QStringList slave{"Frame10", "Label22", "Label23", "Label24", "Text24", "Text25"};
        for (const QString option : {"", "Option1", "Option2", "Option1"}) {
            if (!option.isEmpty())
                click(option);
            const bool isSlave = option == "Option2";
            for (const QString& name : master)
                QVERIFY2(get(name)->isEnabled() ==
                             (!isSlave && (name != "Command20" || !option.isEmpty())),
                         qPrintable(name + " after " + option));
            for (const QString& name : slave)
                QVERIFY2(get(name)->isEnabled() == isSlave, qPrintable(name + " after " + option));
        }
        QVERIFY(!get("Command4")->isEnabled() && get("Command3")->isEnabled());
        QVERIFY(box->text().isEmpty() && window->settings().remoteAddress() == 0);
    }

    // A master's tab changes neither open nor close the polling channel; a
    // slave's opens it on entering "Polling" (already open: no error) and
    // closes it on leaving.
    void pollingChannelFollowsTheTabOnlyForASlave() {
        test::Pty pty;
        qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
        start();
        clickTab(Tab::Polling);
        QVERIFY(!polling().isOpen());
        QVERIFY(polling().open()); // as during a polling cycle
        clickTab(Tab::SetUp);
        QVERIFY(polling().isOpen());
        click("Option2");
        for (Tab tab : {Tab::Polling, Tab::Help, Tab::SetUp, Tab::Polling}) {
            clickTab(tab);
            QCOMPARE(polling().isOpen(), tab == Tab::Polling);
        }
        QVERIFY(messages.errors.isEmpty());
    }
};

QTEST_MAIN(ModeTest)
#include "test_mode.moc"
