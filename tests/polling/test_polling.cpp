// The polling logic on an in-memory channel with short waits: the master's
// queries and their order, reply lights and the slave's answers.
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

struct Shown {
    int row;
    QString text;
    Light light;
    bool operator==(const Shown& o) const {
        return row == o.row && text == o.text && light == o.light;
    }
};

// A master on a fake channel with short waits; `shown` keeps every reply
// box change as it happened.
struct Master {
    FakeChannel channel;
    PollTable table;
    MessageCollector collector{channel};
    MasterPoller poller{channel, collector, table};
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
};
} // namespace

Q_DECLARE_METATYPE(rava::polling::Light)

class PollingTest : public QObject {
    Q_OBJECT
private slots:
    void queryBytes_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("5 ABC") << "5"
                               << "ABC" << bytes({0x05, 0x41, 0x42, 0x43});
        QTest::newRow("empty command") << "5"
                                       << "" << bytes({0x05});
        QTest::newRow("hex, Latin-1")
            << "&HFF" << QString::fromLatin1("\xe9\r") << bytes({0xFF, 0xE9, 0x0D});
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

    void cycleQueriesCheckedRowsInTurnWithAPauseAfterEach() {
        Master m;
        m.setRow(1, true, "1", "A");
        m.setRow(2, false, "2", "unchecked");
        m.setRow(3, true, "3", "B");
        QList<qint64> at;
        QList<int> pausesBefore;
        int pauses = 0;
        QElapsedTimer clock;
        clock.start();
        connect(m.poller.findChild<OneShot*>(QStringLiteral("Timer7")), &OneShot::fired, this,
                [&] { ++pauses; });
        connect(&m.poller, &MasterPoller::queried, this, [&] {
            at << clock.elapsed();
            pausesBefore << pauses;
        });
        QVERIFY(m.poller.start());
        // The first query goes out at once; an edit during the pause counts
        // at the row's next turn.
        QCOMPARE(m.channel.writes, QList<QByteArray>{bytes({0x01, 'A'})});
        m.table.setCommand(1, "C");
        QTRY_COMPARE_WITH_TIMEOUT(m.channel.writes.size(), 4, 5000);
        const QList<QByteArray> expected{bytes({0x01, 'A'}), bytes({0x03, 'B'}), bytes({0x01, 'C'}),
                                         bytes({0x03, 'B'})};
        QCOMPARE(m.channel.writes, expected);
        // One pause before each later query (written in the pause's tick,
        // before this counter sees it), none for the unchecked row, never short.
        QCOMPARE(pausesBefore.mid(0, 4), (QList<int>{0, 0, 1, 2}));
        for (int i = 1; i < 4; ++i)
            QVERIFY2(at[i] - at[i - 1] >= kPause, qPrintable(QString::number(at[i] - at[i - 1])));
    }

    void endStopsAtOnceAndStartWorksAgain() {
        Master m;
        m.setRow(4, true, "4", "Z");
        QVERIFY(m.poller.start());
        QVERIFY(!m.poller.start()); // no second cycle
        m.poller.end();
        QVERIFY(!m.poller.isRunning());
        QVERIFY(!m.channel.isOpen());
        QTest::qWait(kPause * 3);
        QCOMPARE(m.channel.writes.size(), 1);
        QVERIFY(m.poller.start());
        QCOMPARE(m.channel.writes.size(), 2);
        QCOMPARE(m.channel.opens, 2);
    }

    void replyLightsItsRow_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Light>("light");
        // Rows: 1 "1" checked, 2 "3" unchecked, 3 "3" checked, 5 "9" unchecked.
        QTest::newRow("unchecked upper of two")
            << bytes({0x03, 'O', 'K'}) << 2 << "OK" << Light::Green;
        QTest::newRow("not recognised")
            << bytes({0x03, 0x0F}) << 2 << "Wrong command!" << Light::Red;
        QTest::newRow("empty reply") << bytes({0x01}) << 1 << "" << Light::Green;
        QTest::newRow("two 0x0F") << bytes({0x09, 0x0F, 0x0F}) << 5 << "\x0F\x0F" << Light::Green;
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
        m.setRow(5, false, "9");
        QSignalSpy replies(&m.poller, &MasterPoller::replied);
        QVERIFY(m.poller.start());
        m.channel.inject(message);
        QTRY_COMPARE(replies.size(), 1);
        QCOMPARE(replies.at(0).at(0).toInt(), row);
        if (row == 0) {
            QTest::qWait(kHold);
            QVERIFY(m.shown.isEmpty());
            return;
        }
        // Lit, then white and empty again after the hold; no other row.
        QTRY_COMPARE(m.shown.size(), 2);
        QCOMPARE(m.shown.at(0), (Shown{row, text, light}));
        QCOMPARE(m.shown.at(1), (Shown{row, QString(), Light::White}));
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
        QTRY_COMPARE_WITH_TIMEOUT(m.shown.size(), 5, 5000);
        const QList<Shown> expected{{1, "x", Light::Green},
                                    {5, "y", Light::Green},
                                    {1, "Wrong command!", Light::Red},
                                    {5, "", Light::White},
                                    {1, "", Light::White}};
        QCOMPARE(m.shown, expected);
    }

    void slaveAnswers_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<bool>("recognised");
        QTest::newRow("recognised") << "STATUS"
                                    << "23C" << QByteArray("STATUS") << QByteArray("23C") << true;
        QTest::newRow("lower case") << "STATUS"
                                    << "23C" << QByteArray("status") << bytes({0x0F}) << false;
        QTest::newRow("trailing CR") << "STATUS"
                                     << "23C" << QByteArray("STATUS\r") << bytes({0x0F}) << false;
        QTest::newRow("empty command box") << ""
                                           << "23C" << QByteArray("X") << bytes({0x0F}) << false;
        QTest::newRow("empty reply box") << "GO"
                                         << "" << QByteArray("GO") << QByteArray() << true;
    }
    void slaveAnswers() {
        QFETCH(QString, command);
        QFETCH(QString, reply);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, written);
        QFETCH(bool, recognised);
        FakeChannel channel;
        SlaveAnswer answer{command, reply};
        MessageCollector collector(channel);
        SlaveResponder responder(channel, collector, answer);
        collector.setSilence(kSilence);
        responder.setHold(kHold);
        QSignalSpy lights(&responder, &SlaveResponder::lightChanged);
        QVERIFY(responder.listen());
        channel.inject(message);
        QTRY_COMPARE(lights.size(), 2);
        QCOMPARE(channel.allWritten(), written);
        QCOMPARE(channel.writes.size(), written.isEmpty() ? 0 : 1);
        QCOMPARE(lights.at(0).at(0).value<Light>(), recognised ? Light::Green : Light::Red);
        QCOMPARE(lights.at(0).at(1).toString(), recognised
                                                    ? QStringLiteral("Command OK! Reply forwarded")
                                                    : QStringLiteral("Command not recognised!"));
        QCOMPARE(lights.at(1).at(0).value<Light>(), Light::White);
    }
};

QTEST_MAIN(PollingTest)
#include "test_polling.moc"
