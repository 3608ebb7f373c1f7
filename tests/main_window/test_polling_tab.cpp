// A slave's polling channel is open exactly while the "Polling" tab is
// current; a master's tab changes leave it alone. Checked on the rule itself
// with an in-memory channel and on the window against a pseudo-terminal.
#include "main_window/mode_rules.h"
#include "support/fake_channel.h"
#include "support/pty.h"
#include "window_helpers.h"

#include <QRadioButton>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace rava;
using rava::test::child;
using rava::test::clickControl;
using rava::test::clickTab;
using rava::test::FakeChannel;
using rava::test::Pty;
using rava::test::RecordingMessenger;

namespace {
constexpr int kSetUp = 0;
constexpr int kPolling = 5;
constexpr int kHelp = 6;
// A pseudo-terminal reports its station side as closed only once something
// has opened and closed it: do that first, so that "never opened" shows.
bool primeHangup(Pty& pty) {
    const int fd = ::open(pty.stationPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    ::close(fd);
    return pty.waitStationOpen(false, 2000);
}

} // namespace

class PollingTabTest : public QObject {
    Q_OBJECT
private slots:
    void init() { qunsetenv("RAVA2_COM1"); }
    void cleanup() {
        window_.reset();
        qunsetenv("RAVA2_COM1");
    }

    // --- The rule on its own ---------------------------------------------

    void ruleReportsAFailedOpen() {
        FakeChannel channel;
        channel.failOpen = true;
        RecordingMessenger messages;
        PollingTabRule::apply(true, kPolling, kSetUp, channel, messages);
        QVERIFY(!channel.isOpen());
        QCOMPARE(messages.errors, QStringList{channel.failReason});
    }

    void ruleLeavesAnOpenChannelOpen() {
        FakeChannel channel;
        RecordingMessenger messages;
        channel.open();
        PollingTabRule::apply(true, kPolling, kSetUp, channel, messages);
        QVERIFY(channel.isOpen());
        QCOMPARE(channel.closes, 0);
        QVERIFY(messages.errors.isEmpty());
    }

    // --- The window against a real device --------------------------------

    void slaveOpensWhileOnPollingTab() {
        Pty pty;
        QVERIFY(pty.valid());
        QVERIFY(primeHangup(pty));
        startWindow(pty.stationPath());
        becomeSlave();
        QVERIFY(!pty.stationOpen());

        clickTab(*window_, kPolling);
        QVERIFY(pty.waitStationOpen(true, 3000));
        QVERIFY(polling().isOpen());
        // The channel carries the line setting chosen at start-up.
        QCOMPARE(pty.stationBaud(), 115200);

        clickTab(*window_, kPolling); // already current: nothing happens
        QVERIFY(polling().isOpen());

        clickTab(*window_, kHelp);
        QVERIFY(pty.waitStationOpen(false, 3000));
        QVERIFY(!polling().isOpen());

        clickTab(*window_, kSetUp);
        QTest::qWait(50);
        QVERIFY(!pty.stationOpen());

        // Back again, and away through another tab.
        clickTab(*window_, kPolling);
        QVERIFY(pty.waitStationOpen(true, 3000));
        clickTab(*window_, 1);
        QVERIFY(pty.waitStationOpen(false, 3000));
        QVERIFY(messages_.errors.isEmpty());
    }

    void masterTabChangesOpenNothing() {
        Pty pty;
        QVERIFY(pty.valid());
        QVERIFY(primeHangup(pty));
        startWindow(pty.stationPath());
        QVERIFY(window_->isMaster());
        for (int tab : {kPolling, kSetUp, kPolling, kHelp, kPolling}) {
            clickTab(*window_, tab);
            QCOMPARE(window_->tabStrip()->currentIndex(), tab);
            QVERIFY(!polling().isOpen());
        }
        QTest::qWait(50);
        QVERIFY(!pty.stationOpen());

        // An open channel (as during a polling cycle) stays open on leaving.
        QVERIFY(polling().open());
        QVERIFY(pty.waitStationOpen(true, 3000));
        clickTab(*window_, kSetUp);
        QVERIFY(polling().isOpen());
        QVERIFY(messages_.errors.isEmpty());
    }

    void reenteringWithTheChannelOpenIsHarmless() {
        Pty pty;
        QVERIFY(pty.valid());
        QVERIFY(primeHangup(pty));
        startWindow(pty.stationPath());
        // A master's cycle holds the channel; the user turns slave meanwhile.
        clickTab(*window_, kPolling);
        QVERIFY(polling().open());
        clickTab(*window_, kSetUp);
        becomeSlave();
        clickTab(*window_, kPolling);
        QVERIFY(polling().isOpen());
        QVERIFY(pty.stationOpen());
        QVERIFY(messages_.errors.isEmpty());
        clickTab(*window_, kSetUp);
        QVERIFY(pty.waitStationOpen(false, 3000));
    }

    void failedOpenIsReportedAndLeavesTheChannelClosed() {
        startWindow(QStringLiteral("/nonexistent/rava2-polling-port"));
        becomeSlave();
        clickTab(*window_, kPolling);
        QCOMPARE(window_->tabStrip()->currentIndex(), kPolling);
        QVERIFY(!polling().isOpen());
        QCOMPARE(messages_.errors.size(), 1);
        QVERIFY2(messages_.errors[0].contains(QLatin1String("COM 1")),
                 qPrintable(messages_.errors[0]));
        // Leaving and coming back tries again, and reports again.
        clickTab(*window_, kHelp);
        clickTab(*window_, kPolling);
        QCOMPARE(messages_.errors.size(), 2);
        QVERIFY(!polling().isOpen());
    }

private:
    void startWindow(const QString& device) {
        qputenv("RAVA2_COM1", device.toLocal8Bit());
        messages_ = RecordingMessenger();
        window_ = std::make_unique<MainWindow>();
        window_->setMessenger(&messages_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void becomeSlave() {
        clickControl(child<QRadioButton>(window_.get(), "Option2"));
        QVERIFY(!window_->isMaster());
    }
    SerialChannel& polling() { return window_->link().pollingChannel(); }

    std::unique_ptr<MainWindow> window_;
    RecordingMessenger messages_;
};

QTEST_MAIN(PollingTabTest)
#include "test_polling_tab.moc"
