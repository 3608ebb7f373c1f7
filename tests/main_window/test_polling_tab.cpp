// A slave's polling channel is open exactly while the "Polling" tab is
// current; a master's tab changes neither open nor close it. Checked on the
// window against a pseudo-terminal.
#include "support/pty.h"
#include "window_helpers.h"

#include <fcntl.h>
#include <unistd.h>

using namespace rava;
using rava::test::Pty;

class PollingTabTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void cleanup() {
        window.reset();
        qunsetenv("RAVA2_COM1");
    }

    void channelFollowsTheTabOnlyForASlave() {
        Pty pty;
        // The station side reads as closed only once something has opened
        // and closed it: do that first, so that "never opened" shows.
        ::close(::open(pty.stationPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY));
        QVERIFY(pty.waitStationOpen(false, 2000));
        startOn(pty.stationPath());
        // A master: tab changes never open the channel...
        for (Tab tab : {Tab::Polling, Tab::SetUp, Tab::Help, Tab::Polling})
            clickTab(tab);
        QCOMPARE(currentTab(), Tab::Polling);
        QTest::qWait(50);
        QVERIFY(!polling().isOpen() && !pty.stationOpen());
        // ...nor close it when open (as during a polling cycle).
        QVERIFY(polling().open());
        clickTab(Tab::SetUp);
        QVERIFY(polling().isOpen());
        // A slave entering the tab with the channel still open: no error.
        click("Option2");
        clickTab(Tab::Polling);
        QVERIFY(polling().isOpen());
        // Polling -> Help closes, Help -> Set up does nothing, -> Polling opens.
        clickTab(Tab::Help);
        QVERIFY(pty.waitStationOpen(false, 3000) && !polling().isOpen());
        clickTab(Tab::SetUp);
        QTest::qWait(50);
        QVERIFY(!pty.stationOpen());
        clickTab(Tab::Polling);
        QVERIFY(pty.waitStationOpen(true, 3000) && polling().isOpen());
        QVERIFY(messages.errors.isEmpty());
    }

    void failedOpenIsReportedAndLeavesTheChannelClosed() {
        startOn(QStringLiteral("/nonexistent/rava2-polling-port"));
        click("Option2");
        clickTab(Tab::Polling);
        QCOMPARE(currentTab(), Tab::Polling);
        QVERIFY(!polling().isOpen());
        QCOMPARE(messages.errors.size(), 1);
    }

private:
    void startOn(const QString& device) {
        qputenv("RAVA2_COM1", device.toLocal8Bit());
        start();
    }
    SerialChannel& polling() { return window->link().pollingChannel(); }
};

QTEST_MAIN(PollingTabTest)
#include "test_polling_tab.moc"
