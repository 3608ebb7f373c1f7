// Polling through the module simulator with real timings: one master window
// and three slave windows (addresses 1, 3 and 9). The master polls for two
// full cycles; each slave's answer lights its own row, a slave that does not
// know the command lights red, and a slave on another tab stays silent.
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "polling/master_poller.h"
#include "polling/slave_responder.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace rava;
using namespace rava::polling;
using rava::test::SimProcess;

namespace {
struct Lit {
    int row;
    QString text;
    QColor colour;
    qint64 ms; // since Start
};

template <typename T = QWidget> T* at(MainWindow& win, const QString& name) {
    T* w = win.findChild<T*>(name);
    if (!w)
        qFatal("no control %s", qPrintable(name));
    return w;
}
} // namespace

class PollingEndToEndTest : public QObject {
    Q_OBJECT
    test::RecordingMessenger messages_;

private slots:
    void masterPollsThreeSlaves() {
        SimProcess sim({"m=master:0", "s1=slave:1", "s3=slave:3", "s9=slave:9"});
        QVERIFY(sim.start());
        const QStringList links{"m", "s1", "s3", "s9"};
        for (int port = 1; port <= 4; ++port)
            qputenv(QByteArray("RAVA2_COM") + QByteArray::number(port),
                    sim.linkPath(links[port - 1]).toLocal8Bit());

        MainWindow master;
        std::vector<std::unique_ptr<MainWindow>> slaves;
        struct SlaveSetup {
            const char* command;
            const char* reply;
        };
        // Slave 9 expects another command than the master sends it.
        const SlaveSetup setups[] = {{"ONE?", "one"}, {"THREE?", "three"}, {"nine?", "nine"}};
        for (int k = 0; k < 3; ++k) {
            auto win = std::make_unique<MainWindow>();
            win->setMessenger(&messages_);
            at(*win, "Combo1")->setProperty("currentIndex", k + 1); // COM 2..4
            QTest::mouseClick(at(*win, "Option2"), Qt::LeftButton);
            QVERIFY(!win->settings().isMaster());
            at<QLineEdit>(*win, "Text24")->setText(QString::fromLatin1(setups[k].command));
            at<QLineEdit>(*win, "Text25")->setText(QString::fromLatin1(setups[k].reply));
            win->tabStrip()->setCurrentIndex(int(Tab::Polling));
            QVERIFY(win->link().pollingChannel().isOpen());
            slaves.push_back(std::move(win));
        }
        QVERIFY(sim.waitStations({"s1", "s3", "s9"}));
        master.setMessenger(&messages_);
        master.tabStrip()->setCurrentIndex(int(Tab::Polling));

        const char* rows[][2] = {{"1", "ONE?"}, {"3", "THREE?"}, {"9", "NINE?"}};
        for (int i = 1; i <= 3; ++i) {
            at<QCheckBox>(master, QStringLiteral("Check1_%1").arg(i))->setChecked(true);
            at<QLineEdit>(master, QStringLiteral("Text4_%1").arg(i))
                ->setText(QString::fromLatin1(rows[i - 1][0]));
            at<QLineEdit>(master, QStringLiteral("Text14_%1").arg(i))
                ->setText(QString::fromLatin1(rows[i - 1][1]));
        }

        QElapsedTimer clock;
        QList<Lit> lit;
        for (int i = 1; i <= 5; ++i) {
            auto* box = at<QLineEdit>(master, QStringLiteral("Text19_%1").arg(i));
            connect(box, &QLineEdit::textChanged, this, [&, box, i](const QString& text) {
                lit.append({i, text, box->palette().color(QPalette::Base), clock.elapsed()});
            });
        }
        QList<int> queried;
        auto* poller = master.findChild<MasterPoller*>();
        QVERIFY(poller);
        QList<qint64> queriedAt;
        connect(poller, &MasterPoller::queried, this, [&](int row) {
            queried << row;
            queriedAt << clock.elapsed();
        });
        QList<int> answers(3, 0);
        for (int k = 0; k < 3; ++k) {
            auto* responder = slaves[size_t(k)]->findChild<SlaveResponder*>();
            QVERIFY(responder);
            connect(responder, &SlaveResponder::answered, this, [&answers, k] { ++answers[k]; });
        }
        auto lightsOn = [&](int row) {
            QList<Lit> on;
            for (const Lit& l : lit)
                if (l.row == row && !l.text.isEmpty())
                    on << l;
            return on;
        };

        clock.start();
        QTest::mouseClick(at(master, "Command15"), Qt::LeftButton);
        QVERIFY(poller->isRunning());
        QVERIFY(!at(master, "Command15")->isEnabled());
        QVERIFY(at(master, "Command20")->isEnabled());

        // Two full cycles: six queries, five seconds apart, and the last
        // reply; each light goes out again after its second.
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 6 && lightsOn(3).size() >= 2, 40000);
        QCOMPARE(queried.mid(0, 6), (QList<int>{1, 2, 3, 1, 2, 3}));
        QVERIFY2(clock.elapsed() >= 25000, qPrintable(QString::number(clock.elapsed())));
        const QColor green(0, 255, 0), red(255, 0, 0), white(255, 255, 255);
        const QString expected[] = {"one", "three", "Wrong command!"};
        for (int i = 1; i <= 3; ++i) {
            const QList<Lit> on = lightsOn(i);
            QCOMPARE(on.size(), 2);
            for (const Lit& l : on) {
                QCOMPARE(l.text, expected[i - 1]);
                QCOMPARE(l.colour, i == 3 ? red : green);
            }
        }
        QVERIFY(lightsOn(4).isEmpty() && lightsOn(5).isEmpty());
        // Each light comes on after its query, well inside the pause, and is
        // on for the display hold.
        for (int q = 0; q < 6; ++q) {
            const int row = queried.at(q);
            const Lit on = lightsOn(row).at(q / 3);
            const qint64 delay = on.ms - queriedAt.at(q);
            qint64 off = -1;
            for (const Lit& l : lit)
                if (l.row == row && l.text.isEmpty() && l.ms > on.ms) {
                    off = l.ms - on.ms;
                    break;
                }
            qInfo("query %d to row %d at %lld ms; light on after %lld ms, for %lld ms", q + 1, row,
                  queriedAt.at(q), delay, off);
            QVERIFY(delay >= 1000 && delay < 5000); // two silences at least
            if (q < 5)
                QVERIFY(off >= 1000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(at<QLineEdit>(master, "Text19_3")->text(), QString(), 3000);
        QCOMPARE(at<QLineEdit>(master, "Text19_3")->palette().color(QPalette::Base), white);
        QCOMPARE(answers, (QList<int>{2, 2, 2}));

        // Slave 1 goes to another tab: its next query goes unanswered.
        slaves[0]->tabStrip()->setCurrentIndex(int(Tab::Help));
        QVERIFY(!slaves[0]->link().pollingChannel().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 7, 8000);
        QCOMPARE(queried.at(6), 1);
        QTest::qWait(2500);
        QCOMPARE(lightsOn(1).size(), 2);
        QCOMPARE(answers.at(0), 2);
        QCOMPARE(at<QLabel>(*slaves[0], "Label24")->text(), QString());

        // End: at once, nothing more is written.
        QTest::mouseClick(at(master, "Command20"), Qt::LeftButton);
        QVERIFY(!poller->isRunning());
        QVERIFY(!master.link().pollingChannel().isOpen());
        QVERIFY(at(master, "Command15")->isEnabled());
        QVERIFY(!at(master, "Command20")->isEnabled());
        QVERIFY2(messages_.errors.isEmpty(), qPrintable(messages_.errors.join(QLatin1Char('\n'))));
    }

    // The simulator goes away under a running cycle and under a listening
    // slave: both stop with a message naming the device, and a master can
    // press Start again.
    void vanishingDeviceStopsPollingWithAMessage() {
        SimProcess sim({"m=master:0", "s5=slave:5"});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("m")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("s5")).toLocal8Bit());
        test::RecordingMessenger masterMessages, slaveMessages;
        MainWindow master, slave;
        master.setMessenger(&masterMessages);
        slave.setMessenger(&slaveMessages);
        at(slave, "Combo1")->setProperty("currentIndex", 1);
        QTest::mouseClick(at(slave, "Option2"), Qt::LeftButton);
        slave.tabStrip()->setCurrentIndex(int(Tab::Polling));
        QVERIFY(slave.link().pollingChannel().isOpen());
        at<QCheckBox>(master, "Check1_1")->setChecked(true);
        at<QLineEdit>(master, "Text4_1")->setText(QStringLiteral("5"));
        at<QLineEdit>(master, "Text14_1")->setText(QStringLiteral("X"));
        QTest::mouseClick(at(master, "Command15"), Qt::LeftButton);
        QVERIFY(master.link().pollingChannel().isOpen());

        QCOMPARE(sim.stop(SIGTERM), 0);
        QTRY_COMPARE_WITH_TIMEOUT(masterMessages.errors.size(), 1, 5000);
        QVERIFY2(masterMessages.errors.at(0).startsWith(QStringLiteral("Polling stopped: ")),
                 qPrintable(masterMessages.errors.at(0)));
        QVERIFY(!master.link().pollingChannel().isOpen());
        QVERIFY(at(master, "Command15")->isEnabled());
        QVERIFY(!at(master, "Command20")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(slaveMessages.errors.size(), 1, 5000);
        QVERIFY2(
            slaveMessages.errors.at(0).startsWith(QStringLiteral("The slave no longer answers: ")),
            qPrintable(slaveMessages.errors.at(0)));
        QVERIFY(!slave.link().pollingChannel().isOpen());
    }
};

QTEST_MAIN(PollingEndToEndTest)
#include "test_polling_end_to_end.moc"
