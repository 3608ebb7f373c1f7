// The remote address box, the enabling that follows Master and Slave, and a
// slave's polling channel, open exactly while the "Polling" tab is current.
#include "form/controls.h"
#include "support/pty.h"
#include "window_helpers.h"

#include <QLineEdit>
#include <tuple>

using namespace rava;

class ModeTest : public test::WindowTest {
    Q_OBJECT

    SerialChannel& polling() { return window->link().pollingChannel(); }

private slots:
    void cleanup() {
        window.reset();
        qunsetenv("RAVA2_COM1");
    }

    // Every change of the box is filtered at once; pages see the result.
    void remoteAddressIsFilteredAtEveryKey() {
        start();
        auto* box = get<QLineEdit>("Text12");
        const StationSettings& settings = window->settings();
        const std::tuple<const char*, const char*, int> steps[] = {
            {"25", "25", 25},
            {"6", "", 0}, // 256 is no byte
            {"1A", "1A", 1},
            {"b", "", 0}}; // a lowercase letter empties
        for (const auto& [keys, kept, address] : steps) {
            QTest::keyClicks(box, keys);
            QCOMPARE(box->text(), QString(kept));
            QCOMPARE(settings.remoteAddress(), address);
        }
        click("Option2");
        QVERIFY(!settings.isMaster() && box->text().isEmpty() && settings.remoteAddress() == 0);
        click("Option1");
        QVERIFY(settings.isMaster() && settings.remoteAddress() == 0);
    }

    // The master's controls are enabled at creation and after a Master
    // click, the slave's only after a Slave click; End waits for a Master
    // click. Controls outside these keep their state.
    void enablingFollowsTheMode() {
        start();
        QStringList master{"Label7",  "Text12",  "Frame9",    "Label3",
                           "Label20", "Label21", "Command15", "Command20"};
        for (int i = 1; i <= 5; ++i)
            for (const char* array : {"Check1", "Text4", "Text14", "Text19"})
                master << form::arrayMember(array, i);
        const QStringList slave{"Frame10", "Label22", "Label23", "Label24", "Text24", "Text25"};
        for (const QString option : {"", "Option1", "Option2", "Option1"}) {
            if (!option.isEmpty())
                click(qPrintable(option));
            const bool isSlave = option == "Option2";
            for (const QString& name : master)
                QVERIFY2(get(name)->isEnabled() ==
                             (!isSlave && (name != "Command20" || !option.isEmpty())),
                         qPrintable(name + " after " + option));
            for (const QString& name : slave)
                QVERIFY2(get(name)->isEnabled() == isSlave, qPrintable(name + " after " + option));
        }
        QVERIFY(!get("Command4")->isEnabled() && get("Command3")->isEnabled());
    }

    // A master's tab changes neither open nor close the polling channel; a
    // slave's opens it on entering "Polling" and closes it on leaving.
    void pollingChannelFollowsTheTabOnlyForASlave() {
        test::Pty pty;
        qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
        start();
        for (Tab tab : {Tab::Polling, Tab::SetUp, Tab::Help, Tab::Polling})
            clickTab(tab);
        QCOMPARE(currentTab(), Tab::Polling);
        QVERIFY(!polling().isOpen());
        QVERIFY(polling().open()); // as during a polling cycle
        clickTab(Tab::SetUp);
        QVERIFY(polling().isOpen());
        // A slave entering the tab with the channel still open: no error.
        click("Option2");
        clickTab(Tab::Polling);
        QVERIFY(polling().isOpen());
        // Polling -> Help closes, Help -> Set up leaves it closed, -> Polling opens.
        for (Tab tab : {Tab::Help, Tab::SetUp, Tab::Polling}) {
            clickTab(tab);
            QCOMPARE(polling().isOpen(), tab == Tab::Polling);
        }
        QVERIFY(messages.errors.isEmpty());
    }
};

QTEST_MAIN(ModeTest)
#include "test_mode.moc"
