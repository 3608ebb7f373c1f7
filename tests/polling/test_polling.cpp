// Polling on an in-memory channel with short waits, through the "Polling"
// tab's controls on a page of their own.
#include "form/controls.h"
#include "main_window/layout.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/polling_page.h"
#include "support/fake_channel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <tuple>

using namespace rava;
using namespace rava::polling;
using rava::test::FakeChannel;
using Bytes = QList<QByteArray>;

namespace {
constexpr int kSilence = 40;
constexpr int kPause = 120;

// The light a colour shows, as a letter.
char lightLetter(const QColor& colour) {
    return colour == QColor(0, 255, 0)   ? 'G'
           : colour == QColor(255, 0, 0) ? 'R'
           : colour == Qt::white         ? 'W'
                                         : '?';
}

// The "Polling" tab's controls with the page on a fake channel and short
// waits; `shown` keeps every outcome a reply box showed as "row light text",
// `lights` every one the slave's status line showed as "light text".
struct Page {
    QWidget form;
    FakeChannel channel;
    std::unique_ptr<PollingPage> page;
    QStringList shown;
    QStringList lights;
    QList<qint64> lightsAt; // ms since the page was made
    QElapsedTimer clock;

    explicit Page(int holdMs = 150) : Page(Timings{kPause, kSilence, holdMs}) {}
    explicit Page(const Timings& timings) {
        clock.start();
        layout::build(layout::tabPage(Tab::Polling), &form);
        page = std::make_unique<PollingPage>(StationContext(), &form, channel, timings);
        // Connected after the page: the boxes show the outcome already.
        QObject::connect(
            &page->master(), &MasterPoller::outcome, &form, [this](const MasterOutcome& o) {
                const int row = std::holds_alternative<ReplyOk>(o) ? std::get<ReplyOk>(o).row
                                : std::holds_alternative<WrongCommand>(o)
                                    ? std::get<WrongCommand>(o).row
                                : std::holds_alternative<HoldOver>(o) ? std::get<HoldOver>(o).row
                                                                      : 0;
                if (row == 0)
                    return;
                QLineEdit* reply = box("Text19", row);
                shown << QStringLiteral("%1 %2 %3")
                             .arg(row)
                             .arg(lightLetter(reply->palette().base().color()))
                             .arg(reply->text());
            });
        QObject::connect(&page->slave(), &SlaveResponder::outcome, &form, [this] {
            auto* status = get<QLabel>("Label24");
            lightsAt << clock.elapsed();
            lights << QStringLiteral("%1 %2")
                          .arg(lightLetter(status->palette().window().color()))
                          .arg(status->text());
        });
        form.show();
    }
    template <typename T = QLineEdit> T* get(const QString& name) {
        return form.findChild<T*>(name);
    }
    QLineEdit* box(const char* array, int i) { return get(rava::form::arrayMember(array, i)); }
    QString message() { return get<QLabel>("Label25")->text(); }
    void setRow(int i, bool enabled, const QString& address, const QString& command = {}) {
        get<QCheckBox>(rava::form::arrayMember("Check1", i))->setChecked(enabled);
        box("Text4", i)->setText(address);
        box("Text14", i)->setText(command);
    }
};
} // namespace

class PollingTest : public QObject {
    Q_OBJECT
private slots:
    void queryBytes() {
        const std::tuple<const char*, QString, QByteArray> rows[] = {
            {"5", "ABC", "\5ABC"},
            {"5", "", "\5"},
            {"&HFF", QString::fromLatin1("\xe9\r"), "\xff\xe9\r"}, // hex, Latin-1
            {"2.5", "Q", "\2Q"}};                                  // rounded half to even
        for (const auto& [address, command, query] : rows) {
            PollTable table;
            table.setAddress(2, addressByte(address));
            table.setCommand(2, command);
            QCOMPARE(table.query(2), query);
        }
    }

    // Checked rows in turn, each query followed by a full pause, unchecked
    // rows passed over at once; an edit during the pause counts at the row's
    // next turn; a pause that ends without the row's reply is a NoReply.
    // End stops at once and Start works again straight away.
    void cycleQueriesCheckedRowsInTurnAndEndStopsIt() {
        Page p;
        MasterPoller& master = p.page->master();
        p.setRow(1, true, "1", "A");
        p.setRow(2, false, "2", "unchecked");
        p.setRow(3, true, "3", "B");
        QElapsedTimer clock;
        clock.start();
        QList<qint64> at;
        connect(&master, &MasterPoller::queried, this, [&] { at << clock.elapsed(); });
        QList<int> silent;
        connect(&master, &MasterPoller::outcome, this, [&](const MasterOutcome& o) {
            if (const auto* none = std::get_if<NoReply>(&o))
                silent << none->row;
        });
        QVERIFY(master.start());
        QVERIFY(!master.start());
        QCOMPARE(p.channel.writes, Bytes{"\1A"});
        p.box("Text14", 1)->setText("C");
        QTRY_VERIFY_WITH_TIMEOUT(p.channel.writes.size() >= 4, 5000);
        master.end();
        QCOMPARE(p.channel.writes.mid(0, 4), (Bytes{"\1A", "\3B", "\1C", "\3B"}));
        QCOMPARE(silent.mid(0, 3), (QList<int>{1, 3, 1}));
        for (int i = 1; i < 4; ++i)
            QVERIFY(at[i] - at[i - 1] >= kPause);
        QVERIFY(!master.isRunning() && !p.channel.isOpen());
        const auto written = p.channel.writes.size();
        QTest::qWait(kPause * 3);
        QCOMPARE(p.channel.writes.size(), written);
        QVERIFY(master.start() && p.channel.writes.size() == written + 1 && p.channel.opens == 2);
    }

    // A reply lights the first row with its address, checked or not: green
    // with its text, red for the not-recognised byte alone; white and empty
    // after the hold. Each row holds on its own, a second reply to a lit row
    // replaces the first and holds anew, and one for no row is dropped.
    void repliesLightTheirRows() {
        Page p(1200);
        MasterPoller& master = p.page->master();
        p.setRow(1, true, "1", "A");
        p.setRow(2, false, "3");
        p.setRow(3, true, "3", "B");
        p.setRow(5, false, "9");
        QList<int> replied;
        connect(&master, &MasterPoller::outcome, this, [&](const MasterOutcome& o) {
            if (const auto* ok = std::get_if<ReplyOk>(&o))
                replied << ok->row;
            else if (const auto* wrong = std::get_if<WrongCommand>(&o))
                replied << wrong->row;
            else if (std::holds_alternative<UnknownSender>(o))
                replied << 0;
        });
        QVERIFY(master.start());
        const Bytes messages{"\3OK", "\7A", "\11\17\17", "\3\17", "\1"};
        for (int k = 0; k < messages.size(); ++k) {
            p.channel.inject(messages[k]); // each after the one before was cut out
            QTRY_COMPARE(replied.size(), k + 1);
        }
        QCOMPARE(replied, (QList<int>{2, 0, 5, 2, 1}));
        QTRY_COMPARE_WITH_TIMEOUT(p.shown.size(), 7, 5000);
        QCOMPARE(p.shown, (QStringList{"2 G OK", "5 G \17\17", "2 R Wrong command!", "1 G ", "5 W ",
                                       "2 W ", "1 W "}));
    }

    // The slave recognises the whole message exactly as typed, and answers
    // each message on its own; an empty reply box writes nothing. The last
    // outcome stays shown for the real display hold, 1 s.
    void slaveAnswers() {
        Timings timings; // the real hold outlasts the messages: one white at the end
        timings.pauseMs = kPause;
        timings.silenceMs = kSilence;
        Page p(timings);
        p.get("Text24")->setText("STATUS");
        p.get("Text25")->setText("23C");
        QStringList& lights = p.lights;
        QVERIFY(p.page->slave().listen());
        for (const char* message : {"status", "STATUS\r", "STATUS", "", "STATUS"}) {
            if (!*message) {
                p.get("Text25")->clear();
                continue;
            }
            const int before = int(lights.size());
            p.channel.inject(message);
            QTRY_COMPARE(lights.size(), before + 1);
        }
        QCOMPARE(p.channel.writes, (Bytes{"\17", "\17", "23C"}));
        QTRY_COMPARE_WITH_TIMEOUT(lights.size(), 5, 5000);
        const QString bad = "R Command not recognised!", good = "G Command OK! Reply forwarded";
        QCOMPARE(lights, (QStringList{bad, bad, good, good, "W "}));
        QVERIFY2(p.lightsAt[4] - p.lightsAt[3] >= 1000,
                 qPrintable(QString::number(p.lightsAt[4] - p.lightsAt[3])));
    }

    // A message is at most what a station sends: its address byte and a full
    // command or reply box (a slave gets the command without the address).
    // Input past the collector's bound is dropped as it comes, said once,
    // and after a silence the next message is taken as usual.
    void messagesAreBounded_data() {
        QTest::addColumn<bool>("slave");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("shown"); // the first light; empty: the whole message's
        QTest::addColumn<QString>("said");  // the master's message line
        const int longest = int(MessageCollector::kLongestSent);
        QCOMPARE(MessageCollector::kMaxMessage, 65536);
        const QString dropped = "A reply longer than 65536 bytes came and was dropped.";
        QTest::newRow("master, the longest reply") << false << longest << ""
                                                   << "";
        QTest::newRow("master, past the bound") << false << 65537 << "1 G OK" << dropped;
        QTest::newRow("master, 4 MB that do not pause")
            << false << (4 << 20) << "1 G OK" << dropped;
        QTest::newRow("slave, the longest command") << true << longest - 1 << ""
                                                    << "";
        QTest::newRow("slave, past the bound")
            << true << 65537 << "R Command too long! Not answered"
            << "";
    }
    void messagesAreBounded() {
        QFETCH(bool, slave);
        QFETCH(int, size);
        QFETCH(QString, shown);
        QFETCH(QString, said);
        Page p;
        const int longest = int(MessageCollector::kLongestSent);
        const QString fullBox(longest - 1, QLatin1Char('x'));
        QStringList& lights = p.lights;
        if (slave) {
            p.get("Text24")->setText(fullBox); // as full as the box gets
            QCOMPARE(p.get("Text24")->text().size(), longest - 1);
            p.get("Text25")->setText("OK");
            QVERIFY(p.page->slave().listen());
        } else {
            QCOMPARE(p.box("Text19", 1)->maxLength(), longest - 1);
            p.setRow(1, true, "3", "Q");
            QVERIFY(p.page->master().start());
        }
        const QByteArray message =
            (slave ? QByteArray() : QByteArray("\3")) + QByteArray(size, 'x').right(size - !slave);
        qsizetype most = 0;
        for (qsizetype at = 0; at < message.size(); at += 4096) {
            p.channel.inject(message.mid(at, 4096));
            most = qMax(most, p.page->collector().pending().size());
        }
        QVERIFY(most <= MessageCollector::kMaxMessage);
        QTRY_COMPARE(p.page->collector().state(), MessageCollector::State::Idle);
        const QStringList& lit = slave ? lights : p.shown;
        if (shown.isEmpty()) { // taken whole
            QTRY_VERIFY(!lit.isEmpty());
            QCOMPARE(lit.first(), slave ? "G Command OK! Reply forwarded" : "1 G " + fullBox);
            return;
        }
        QCOMPARE(p.message(), said);
        QCOMPARE(lit.size(), slave ? 1 : 0);
        if (slave) // no reply to what was dropped
            QVERIFY(p.channel.writes.isEmpty());
        // The next message after the silence is whole again.
        p.channel.inject(slave ? fullBox.toLatin1() : QByteArray("\3OK"));
        QTRY_VERIFY(!lit.isEmpty());
        QCOMPARE(lit.first(), shown);
        if (slave)
            QTRY_COMPARE(p.channel.writes, Bytes{"OK"});
        else
            QTRY_COMPARE(p.shown.first(), QStringLiteral("1 G OK"));
    }

    // An address box keeps 1 to 255: a refused key empties it and names the
    // row, the next edit clears the message. Unchecking a row empties it and
    // the message line; checking one changes nothing.
    void rowEntriesAndUnchecking() {
        Page p;
        const QString outOfRange = "Address of Slave %1 is outside the range!";
        const std::tuple<int, char, const char*, bool> keys[] = {
            {1, '2', "2", false},   {1, '5', "25", false}, {1, '6', "", true},
            {2, '0', "", true},     {4, '1', "1", false},  {4, '2', "12", false},
            {4, 'A', "12A", false}, {2, '0', "", true}};
        for (const auto& [row, key, kept, refused] : keys) {
            QTest::keyClick(p.box("Text4", row), key);
            QCOMPARE(p.box("Text4", row)->text(), QString(kept));
            QCOMPARE(p.message(), refused ? outOfRange.arg(row) : QString());
        }
        QCOMPARE(p.page->table().query(4), QByteArray("\14"));
        auto* check = p.get<QCheckBox>("Check1_4");
        check->setChecked(true);
        p.box("Text14", 4)->setText("PING");
        p.box("Text19", 4)->setText("pong");
        p.get<QCheckBox>("Check1_2")->setChecked(true);
        QCOMPARE(p.box("Text4", 4)->text(), QStringLiteral("12A"));
        QCOMPARE(p.message(), outOfRange.arg(2));
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
        QVERIFY(!check->isChecked());
        for (const char* name : {"Text4", "Text14", "Text19"})
            QCOMPARE(p.box(name, 4)->text(), QString());
        QCOMPARE(p.message(), QString());
        QCOMPARE(p.page->table().query(4), QByteArray(1, '\0'));
    }
};

QTEST_MAIN(PollingTest)
#include "test_polling.moc"
