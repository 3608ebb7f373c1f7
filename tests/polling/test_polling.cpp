// The polling logic on an in-memory channel with short waits: messages cut
// by silence, the master's queries and their order, reply lights and the
// slave's answers.
#include "link/one_shot.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/poll_table.h"
#include "polling/slave_responder.h"
#include "support/fake_channel.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace rava;
using namespace rava::polling;
using rava::test::FakeChannel;

namespace {
constexpr int kSilence = 40;
constexpr int kPause = 120;
constexpr int kHold = 150;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// A master on a fake channel with short waits.
struct Master {
    FakeChannel channel;
    PollTable table;
    MessageCollector collector{channel};
    MasterPoller poller{channel, collector, table};
    // Every reply box change as it happened: row, text, light.
    struct Shown {
        int row;
        QString text;
        Light light;
        bool operator==(const Shown& o) const {
            return row == o.row && text == o.text && light == o.light;
        }
    };
    QList<Shown> shown;

    Master() {
        collector.setSilence(kSilence);
        poller.setPause(kPause);
        poller.setHold(kHold);
        QObject::connect(&table, &PollTable::replyChanged, &table, [this](int i) {
            shown.append({i, table.row(i).reply, table.row(i).light});
        });
    }
    void setRow(int i, bool enabled, const QString& address, const QString& command = {}) {
        table.setEnabled(i, enabled);
        table.setAddress(i, address);
        table.setCommand(i, command);
    }
    OneShot* pause() { return poller.findChild<OneShot*>(QStringLiteral("Timer7")); }
};

struct Slave {
    FakeChannel channel;
    SlaveAnswer answer;
    MessageCollector collector{channel};
    SlaveResponder responder{channel, collector, answer};
    Slave() {
        collector.setSilence(kSilence);
        responder.setHold(kHold);
    }
};
} // namespace

Q_DECLARE_METATYPE(rava::polling::Light)

class PollingTest : public QObject {
    Q_OBJECT
private slots:
    // --- Message collector -------------------------------------------------

    void collectorJoinsBytesUntilSilence() {
        FakeChannel channel;
        MessageCollector collector(channel);
        // A long silence here: the pieces below must stay well inside it.
        const int silence = 400;
        collector.setSilence(silence);
        QSignalSpy messages(&collector, &MessageCollector::messageReceived);
        QVERIFY(channel.open());
        channel.inject("stale"); // before listening: not collected
        collector.start();
        QCOMPARE(collector.state(), MessageCollector::State::Idle);
        QVERIFY(!collector.timerArmed());

        // Pieces closer than the silence make one message.
        QElapsedTimer clock;
        clock.start();
        for (const char* piece : {"\x03", "O", "K"}) {
            channel.inject(piece);
            QCOMPARE(collector.state(), MessageCollector::State::Collecting);
            QTest::qWait(20);
        }
        QVERIFY(messages.isEmpty());
        QTRY_COMPARE(messages.size(), 1);
        QVERIFY(clock.elapsed() >= silence);
        QCOMPARE(messages.at(0).at(0).toByteArray(), QByteArray("\x03OK"));
        QCOMPARE(collector.state(), MessageCollector::State::Idle);
        QVERIFY(!collector.timerArmed());

        // A gap longer than the silence splits a message in two.
        channel.inject("AB");
        QTRY_COMPARE(messages.size(), 2);
        channel.inject("CD");
        QTRY_COMPARE(messages.size(), 3);
        QCOMPARE(messages.at(1).at(0).toByteArray(), QByteArray("AB"));
        QCOMPARE(messages.at(2).at(0).toByteArray(), QByteArray("CD"));
    }

    void stoppedCollectorHoldsNothingAndArmsNothing() {
        FakeChannel channel;
        MessageCollector collector(channel);
        collector.setSilence(kSilence);
        QSignalSpy messages(&collector, &MessageCollector::messageReceived);
        QVERIFY(channel.open());
        collector.start();
        QCOMPARE(channel.receiveThreshold(), 1);
        channel.inject("half a mess");
        QVERIFY(collector.timerArmed());
        collector.stop();
        QCOMPARE(collector.state(), MessageCollector::State::Stopped);
        QVERIFY(!collector.timerArmed());
        QVERIFY(collector.pending().isEmpty());
        channel.inject("age");
        QTest::qWait(kSilence * 3);
        QVERIFY(messages.isEmpty());
        QVERIFY(!collector.timerArmed());
        // Started again, it begins with a clean slate.
        collector.start();
        channel.inject("new");
        QTRY_COMPARE(messages.size(), 1);
        QCOMPARE(messages.at(0).at(0).toByteArray(), QByteArray("new"));
    }

    // --- Poll table: queries and matching -----------------------------------

    void queryBytes_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("5 ABC") << "5"
                               << "ABC" << bytes({0x05, 0x41, 0x42, 0x43});
        QTest::newRow("empty command") << "5"
                                       << "" << bytes({0x05});
        QTest::newRow("half to even down") << "2.5"
                                           << "X" << bytes({0x02, 'X'});
        QTest::newRow("half to even up") << "3.5"
                                         << "" << bytes({0x04});
        QTest::newRow("12A is 12") << "12A"
                                   << "" << bytes({0x0C});
        QTest::newRow("hex, Latin-1")
            << "&HFF" << QString::fromLatin1("\xe9 \r") << bytes({0xFF, 0xE9, 0x20, 0x0D});
        QTest::newRow("empty address") << ""
                                       << "Q" << bytes({0x00, 'Q'});
        QTest::newRow("blanks") << " 2 00"
                                << "" << bytes({200});
    }
    void queryBytes() {
        QFETCH(QString, address);
        QFETCH(QString, command);
        QFETCH(QByteArray, query);
        PollTable table;
        table.setAddress(2, address);
        table.setCommand(2, command);
        QCOMPARE(table.query(2), query);
    }

    // --- Master cycle ---------------------------------------------------------

    void cycleQueriesCheckedRowsInTurn() {
        Master m;
        m.setRow(1, true, "1", "A");
        m.setRow(2, false, "2", "unchecked");
        m.setRow(3, true, "3", "B");
        QSignalSpy runs(&m.poller, &MasterPoller::runningChanged);
        int pauses = 0;
        connect(m.pause(), &OneShot::fired, this, [&] { ++pauses; });
        QList<int> pausesBefore;
        connect(&m.poller, &MasterPoller::queried, this, [&] { pausesBefore << pauses; });

        QVERIFY(m.poller.start());
        QCOMPARE(runs.size(), 1);
        QVERIFY(m.channel.isOpen());
        // The first query goes out at once.
        QCOMPARE(m.channel.writes, QList<QByteArray>{bytes({0x01, 'A'})});
        QCOMPARE(m.poller.state(), MasterPoller::State::Pausing);
        // An edit during the pause counts at the row's next turn.
        m.table.setCommand(1, "C");
        QTRY_COMPARE_WITH_TIMEOUT(m.channel.writes.size(), 5, 5000);
        const QList<QByteArray> expected{bytes({0x01, 'A'}), bytes({0x03, 'B'}), bytes({0x01, 'C'}),
                                         bytes({0x03, 'B'}), bytes({0x01, 'C'})};
        QCOMPARE(m.channel.writes, expected);
        // One pause after each query, none for the unchecked rows between:
        // each later query is written within the tick of the one pause
        // before it, before this counter sees that tick.
        QCOMPARE(pausesBefore, (QList<int>{0, 0, 1, 2, 3}));
        QCOMPARE(m.poller.currentRow(), 1);
    }

    void pauseIsNeverShort() {
        Master m;
        m.setRow(2, true, "2", "X");
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        connect(&m.poller, &MasterPoller::queried, this, [&] { at << clock.elapsed(); });
        QVERIFY(m.poller.start());
        QTRY_COMPARE_WITH_TIMEOUT(at.size(), 3, 5000);
        QVERIFY2(at[1] - at[0] >= kPause && at[2] - at[1] >= kPause,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(at[0]).arg(at[1]).arg(at[2])));
    }

    void endStopsAtOnceAndStartWorksAgain() {
        Master m;
        m.setRow(4, true, "4", "Z");
        QVERIFY(m.poller.start());
        QCOMPARE(m.channel.writes.size(), 1);
        // A second Start while running starts no second cycle.
        QVERIFY(!m.poller.start());
        QCOMPARE(m.channel.opens, 1);
        m.poller.end();
        QCOMPARE(m.poller.state(), MasterPoller::State::Idle);
        QVERIFY(!m.channel.isOpen());
        QVERIFY(!m.pause()->isActive());
        QTest::qWait(kPause * 3);
        QCOMPARE(m.channel.writes.size(), 1);
        // Start right after End: a fresh cycle, its first query at once.
        QVERIFY(m.poller.start());
        QCOMPARE(m.channel.writes.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(m.channel.writes.size(), 3, 5000);
        m.poller.end();
        m.poller.end(); // idle: nothing
        QCOMPARE(m.channel.closes, 2);
    }

    void noCheckedRowSendsNothingUntilOneIsChecked() {
        Master m;
        m.setRow(3, false, "3", "Q");
        QVERIFY(m.poller.start());
        QCOMPARE(m.poller.state(), MasterPoller::State::NoRowsYet);
        QTest::qWait(kPause);
        QVERIFY(m.channel.writes.isEmpty());
        m.table.setEnabled(3, true);
        QCOMPARE(m.channel.writes, QList<QByteArray>{bytes({0x03, 'Q'})});
        // Unchecked again during its pause: the cycle waits without writing.
        m.table.setEnabled(3, false);
        QTRY_COMPARE(m.poller.state(), MasterPoller::State::NoRowsYet);
        QTest::qWait(kPause);
        QCOMPARE(m.channel.writes.size(), 1);
    }

    void failedOpenLeavesEverythingAsItWas() {
        Master m;
        m.setRow(1, true, "1", "A");
        m.channel.failOpen = true;
        QSignalSpy failures(&m.poller, &MasterPoller::failed);
        QSignalSpy runs(&m.poller, &MasterPoller::runningChanged);
        QVERIFY(!m.poller.start());
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).value<PollFailure>(), PollFailure::OpenFailed);
        QCOMPARE(failures.at(0).at(1).toString(), m.channel.failReason);
        QVERIFY(runs.isEmpty());
        QVERIFY(!m.poller.isRunning());
        QVERIFY(!m.collector.isListening());
        QVERIFY(m.channel.writes.isEmpty());
    }

    void lostChannelEndsTheCycle() {
        Master m;
        m.setRow(1, true, "1", "A");
        QSignalSpy failures(&m.poller, &MasterPoller::failed);
        QVERIFY(m.poller.start());
        m.channel.close();
        emit m.channel.lost(QStringLiteral("COM 1 went away"));
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.at(0).at(0).value<PollFailure>(), PollFailure::ChannelLost);
        QVERIFY(!m.poller.isRunning());
        QVERIFY(!m.pause()->isActive());
        QVERIFY(!m.collector.timerArmed());
    }

    void replyLightsItsRow_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Light>("light");
        // Rows: 1 "1" checked, 2 "3" unchecked, 3 "3" checked, 4 empty, 5 "9".
        QTest::newRow("OK from 3, upper of two, unchecked")
            << bytes({0x03, 'O', 'K'}) << 2 << "OK" << Light::Green;
        QTest::newRow("not recognised")
            << bytes({0x03, 0x0F}) << 2 << "Wrong command!" << Light::Red;
        QTest::newRow("empty reply") << bytes({0x01}) << 1 << "" << Light::Green;
        QTest::newRow("two 0x0F bytes are a reply")
            << bytes({0x09, 0x0F, 0x0F}) << 5 << "\x0F\x0F" << Light::Green;
        QTest::newRow("empty address is 0") << bytes({0x00, 'A'}) << 4 << "A" << Light::Green;
        QTest::newRow("Latin-1") << bytes({0x09, 0xE9}) << 5 << QString::fromLatin1("\xe9")
                                 << Light::Green;
        QTest::newRow("unknown address dropped") << bytes({0x07, 'A'}) << 0 << "" << Light::White;
    }
    void replyLightsItsRow() {
        QFETCH(QByteArray, message);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(Light, light);
        Master m;
        m.setRow(1, true, "1", "A");
        m.setRow(2, false, "3");
        m.setRow(3, true, "3", "B");
        m.setRow(4, false, "");
        m.setRow(5, false, "9");
        m.poller.setPause(60000); // the cycle's row stays put meanwhile
        QSignalSpy replies(&m.poller, &MasterPoller::replied);
        QVERIFY(m.poller.start());
        const int rowCursor = m.poller.currentRow();
        m.channel.inject(message);
        QTRY_COMPARE(replies.size(), 1);
        QCOMPARE(replies.at(0).at(0).toInt(), row);
        if (row == 0) {
            QTest::qWait(kHold);
            QVERIFY(m.shown.isEmpty());
            return;
        }
        // Lit, then white and empty again after the hold; no other row
        // changes and the cycle's row is untouched.
        QTRY_COMPARE(m.shown.size(), 2);
        QCOMPARE(m.shown.at(0), (Master::Shown{row, text, light}));
        QCOMPARE(m.shown.at(1), (Master::Shown{row, QString(), Light::White}));
        QCOMPARE(m.poller.currentRow(), rowCursor);
    }

    void replyMatchesTheRoundedAddress() {
        Master m;
        m.setRow(2, true, "2.5", "A");
        QVERIFY(m.poller.start());
        QCOMPARE(m.channel.writes.value(0), bytes({0x02, 'A'}));
        m.channel.inject(bytes({0x02, 'y'}));
        QTRY_VERIFY(!m.shown.isEmpty());
        QCOMPARE(m.shown.at(0), (Master::Shown{2, "y", Light::Green}));
    }

    void messageDuringHoldIsNotLost() {
        Master m;
        m.setRow(1, true, "1", "A");
        m.setRow(5, true, "5", "E");
        m.poller.setHold(1000);
        QVERIFY(m.poller.start());
        m.channel.inject(bytes({0x01, 'x'}));
        QTRY_COMPARE(m.shown.size(), 1);
        // Row 1's light is on: a reply for row 5 and a second one for row 1,
        // each a message of its own after its silence.
        m.channel.inject(bytes({0x05, 'y'}));
        QTRY_COMPARE(m.shown.size(), 2);
        m.channel.inject(bytes({0x01, 0x0F}));
        QTRY_COMPARE(m.shown.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(m.shown.size(), 5, 5000);
        using S = Master::Shown;
        const QList<S> expected{{1, "x", Light::Green},
                                {5, "y", Light::Green},
                                {1, "Wrong command!", Light::Red},
                                {5, "", Light::White},
                                {1, "", Light::White}};
        QCOMPARE(m.shown, expected);
    }

    // --- Slave ------------------------------------------------------------------

    void slaveAnswers_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<bool>("recognised");
        QTest::newRow("recognised")
            << "STATUS"
            << "23C" << QByteArray("STATUS") << bytes({0x32, 0x33, 0x43}) << true;
        QTest::newRow("lower case") << "STATUS"
                                    << "23C" << QByteArray("status") << bytes({0x0F}) << false;
        QTest::newRow("trailing CR") << "STATUS"
                                     << "23C" << QByteArray("STATUS\r") << bytes({0x0F}) << false;
        QTest::newRow("leading blank") << "STATUS"
                                       << "23C" << QByteArray(" STATUS") << bytes({0x0F}) << false;
        QTest::newRow("empty command box") << ""
                                           << "23C" << QByteArray("X") << bytes({0x0F}) << false;
        QTest::newRow("empty reply box") << "GO"
                                         << "" << QByteArray("GO") << QByteArray() << true;
        QTest::newRow("Latin-1 both ways")
            << QString::fromLatin1("caf\xe9") << QString::fromLatin1("\xff")
            << QByteArray("caf\xe9") << bytes({0xFF}) << true;
        QTest::newRow("address byte is not stripped")
            << "GO"
            << "ok" << bytes({0x07, 'G', 'O'}) << bytes({0x0F}) << false;
    }
    void slaveAnswers() {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, written);
        QFETCH(bool, recognised);
        Slave s;
        s.answer = {command, reply};
        QSignalSpy lights(&s.responder, &SlaveResponder::lightChanged);
        QVERIFY(s.responder.listen());
        QVERIFY(s.channel.isOpen());
        s.channel.inject(message);
        QTRY_COMPARE(lights.size(), 2);
        QCOMPARE(s.channel.allWritten(), written);
        QCOMPARE(s.channel.writes.size(), written.isEmpty() ? 0 : 1);
        QCOMPARE(lights.at(0).at(0).value<Light>(), recognised ? Light::Green : Light::Red);
        QCOMPARE(lights.at(0).at(1).toString(), recognised
                                                    ? QStringLiteral("Command OK! Reply forwarded")
                                                    : QStringLiteral("Command not recognised!"));
        // White and empty after the hold.
        QCOMPARE(lights.at(1).at(0).value<Light>(), Light::White);
        QCOMPARE(lights.at(1).at(1).toString(), QString());
        QCOMPARE(s.responder.light(), Light::White);
    }

    void slaveReadsItsBoxesAtTheMomentOfUseAndAnswersDuringAHold() {
        Slave s;
        s.responder.setHold(2000);
        s.answer = {"A", "1"};
        QVERIFY(s.responder.listen());
        s.channel.inject("A");
        QTRY_COMPARE(s.channel.writes.size(), 1);
        s.answer = {"B", "2"};
        s.channel.inject("A"); // during the hold, and no longer the command
        QTRY_COMPARE(s.channel.writes.size(), 2);
        QCOMPARE(s.responder.light(), Light::Red);
        s.channel.inject("B");
        QTRY_COMPARE(s.channel.writes.size(), 3);
        QCOMPARE(s.channel.writes, (QList<QByteArray>{"1", bytes({0x0F}), "2"}));
        QCOMPARE(s.responder.light(), Light::Green);
    }

    void slaveListensOnlyWhileAsked() {
        Slave s;
        s.answer = {"A", "1"};
        // Not listening: nothing is answered (the channel is not even open).
        s.channel.open();
        s.channel.inject("A");
        QTest::qWait(kSilence * 3);
        QVERIFY(s.channel.writes.isEmpty());
        // An open channel is kept as it is.
        QVERIFY(s.responder.listen());
        QCOMPARE(s.channel.opens, 1);
        QVERIFY(!s.responder.listen());
        s.channel.inject("A");
        QTRY_COMPARE(s.channel.writes.size(), 1);
        s.responder.stopListening();
        QVERIFY(!s.channel.isOpen());
        QVERIFY(!s.collector.isListening());
        // A failed open is told and leaves the channel closed.
        s.channel.failOpen = true;
        QSignalSpy failures(&s.responder, &SlaveResponder::failed);
        QVERIFY(!s.responder.listen());
        QCOMPARE(failures.size(), 1);
        QVERIFY(!s.channel.isOpen());
        QVERIFY(!s.responder.isListening());
    }
};

QTEST_MAIN(PollingTest)
#include "test_polling.moc"
