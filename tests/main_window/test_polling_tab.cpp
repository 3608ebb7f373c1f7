// A slave's polling channel is open exactly while the "Polling" tab is
// current; a master's tab changes neither open nor close it. Checked on the
// window against a pseudo-terminal.
#include "support/pty.h"
#include "window_helpers.h"

#include <fcntl.h>
#include <unistd.h>

using namespace rava;
using rava::test::Pty;

constexpr Tab kSetUp = Tab::SetUp;
constexpr Tab kPolling = Tab::Polling;
constexpr Tab kHelp = Tab::Help;

class PollingTabTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void cleanup() {
        window.reset();
        qunsetenv("RAVA2_COM1");
    }

    void channelFollowsTheTabOnlyForASlave() {
        Pty pty;
        QVERIFY(pty.valid());
        // The station side reads as closed only once something has opened
        // and closed it: do that first, so that "never opened" shows.
        const int fd = ::open(pty.stationPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(pty.waitStationOpen(false, 2000));
        startOn(pty.stationPath());

        // A master: tab changes never open the channel...
        for (Tab tab : {kPolling, kSetUp, kHelp, kPolling}) {
            clickTab(tab);
            QCOMPARE(currentTab(), tab);
            QVERIFY(!polling().isOpen());
        }
        QTest::qWait(50);
        QVERIFY(!pty.stationOpen());
        // ...nor close it when open (as during a polling cycle).
        QVERIFY(polling().open());
        clickTab(kSetUp);
        QVERIFY(polling().isOpen());

        // A slave entering the tab with the channel still open: no error.
        click("Option2");
        QVERIFY(!window->settings().isMaster());
        clickTab(kPolling);
        QVERIFY(polling().isOpen());
        // Polling -> Help closes, Help -> Set up does nothing.
        clickTab(kHelp);
        QVERIFY(pty.waitStationOpen(false, 3000));
        QVERIFY(!polling().isOpen());
        clickTab(kSetUp);
        QTest::qWait(50);
        QVERIFY(!pty.stationOpen());
        // Set up -> Polling opens.
        clickTab(kPolling);
        QVERIFY(pty.waitStationOpen(true, 3000));
        QVERIFY(polling().isOpen());
        QVERIFY(messages.errors.isEmpty());
    }

    void failedOpenIsReportedAndLeavesTheChannelClosed() {
        startOn(QStringLiteral("/nonexistent/rava2-polling-port"));
        click("Option2");
        clickTab(kPolling);
        QCOMPARE(currentTab(), kPolling);
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
