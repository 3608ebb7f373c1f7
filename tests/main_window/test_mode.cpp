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

    // Every key in the address box is filtered at once (256 is no byte) and
    // the pages see the result. A Slave click empties and locks the box and
    // makes the master's table unusable and the slave's boxes usable; a
    // Master click the reverse. End is usable only once Master was clicked.
    void modeSwapsTheMastersAndTheSlavesControls() {
        start();
        auto* box = get<QLineEdit>("Text12");
        QTest::keyClicks(box, "25");
        QCOMPARE(window->settings().remoteAddress(), 25);
        QTest::keyClicks(box, "6");
        QVERIFY(box->text().isEmpty() && window->settings().remoteAddress() == 0);
        QTest::keyClicks(box, "7");
        QCOMPARE(window->settings().remoteAddress(), 7);
        QVERIFY(get("Command15")->isEnabled() && !get("Command20")->isEnabled());
        QVERIFY(!get("Text24")->isEnabled());
        click("Option2");
        QVERIFY(box->text().isEmpty() && !box->isEnabled());
        QCOMPARE(window->settings().remoteAddress(), 0);
        QVERIFY(!get("Check1_3")->isEnabled() && !get("Command15")->isEnabled());
        QVERIFY(get("Text24")->isEnabled() && get("Text25")->isEnabled());
        click("Option1");
        QVERIFY(box->isEnabled() && get("Check1_3")->isEnabled());
        QVERIFY(get("Command15")->isEnabled() && get("Command20")->isEnabled());
        QVERIFY(!get("Text24")->isEnabled());
        // Pages without a mode of their own keep their state.
        QVERIFY(!get("Command4")->isEnabled() && get("Command3")->isEnabled());
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
