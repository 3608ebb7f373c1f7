// Polling through the module simulator with real timings: one master window
// and three slave windows (addresses 1, 3 and 9). The master polls for two
// full cycles; each slave's answer lights its own row, a slave that does not
// know the command lights red, and a slave on another tab stays silent.
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "polling/master_poller.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QLineEdit>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::polling;
using rava::test::SimProcess;

namespace {
struct Lit {
    int row;
    QString text;
    QColor colour;
};

QWidget* at(MainWindow& win, const QString& name) {
    QWidget* w = win.findChild<QWidget*>(name);
    if (!w)
        qFatal("no control %s", qPrintable(name));
    return w;
}
void setText(MainWindow& win, const QString& name, const char* text) {
    at(win, name)->setProperty("text", QString::fromLatin1(text));
}
} // namespace

class PollingEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void masterPollsThreeSlaves() {
        SimProcess sim({"m=master:0", "s1=slave:1", "s3=slave:3", "s9=slave:9"});
        QVERIFY(sim.start());
        const QStringList links{"m", "s1", "s3", "s9"};
        for (int port = 1; port <= 4; ++port)
            qputenv(QByteArray("RAVA2_COM") + QByteArray::number(port),
                    sim.linkPath(links[port - 1]).toLocal8Bit());
        test::RecordingMessenger messages;
        MainWindow master;
        std::vector<std::unique_ptr<MainWindow>> slaves;
        // Slave 9 expects another command than the master sends it.
        const char* slaveBoxes[][2] = {{"ONE?", "one"}, {"THREE?", "three"}, {"nine?", "nine"}};
        for (int k = 0; k < 3; ++k) {
            auto win = std::make_unique<MainWindow>();
            win->setMessenger(&messages);
            at(*win, "Combo1")->setProperty("currentIndex", k + 1); // COM 2..4
            QTest::mouseClick(at(*win, "Option2"), Qt::LeftButton);
            setText(*win, "Text24", slaveBoxes[k][0]);
            setText(*win, "Text25", slaveBoxes[k][1]);
            win->tabStrip()->setCurrentIndex(int(Tab::Polling));
            QVERIFY(win->link().pollingChannel().isOpen());
            slaves.push_back(std::move(win));
        }
        QVERIFY(sim.waitStations({"s1", "s3", "s9"}));
        master.setMessenger(&messages);
        master.tabStrip()->setCurrentIndex(int(Tab::Polling));
        const char* rows[][2] = {{"1", "ONE?"}, {"3", "THREE?"}, {"9", "NINE?"}};
        QList<Lit> lit;
        for (int i = 1; i <= 5; ++i) {
            if (i <= 3) {
                at(master, QStringLiteral("Check1_%1").arg(i))->setProperty("checked", true);
                setText(master, QStringLiteral("Text4_%1").arg(i), rows[i - 1][0]);
                setText(master, QStringLiteral("Text14_%1").arg(i), rows[i - 1][1]);
            }
            auto* box = static_cast<QLineEdit*>(at(master, QStringLiteral("Text19_%1").arg(i)));
            connect(box, &QLineEdit::textChanged, this, [&lit, box, i](const QString& text) {
                if (!text.isEmpty())
                    lit.append({i, text, box->palette().color(QPalette::Base)});
            });
        }
        QList<int> queried;
        auto* poller = master.findChild<MasterPoller*>();
        QVERIFY(poller);
        connect(poller, &MasterPoller::queried, this, [&](int row) { queried << row; });

        QTest::mouseClick(at(master, "Command15"), Qt::LeftButton);
        QVERIFY(poller->isRunning());
        // Two full cycles; each reply lights its own row after its query.
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 6 && lit.size() >= 6, 40000);
        QCOMPARE(queried.mid(0, 6), (QList<int>{1, 2, 3, 1, 2, 3}));
        const QColor green(0, 255, 0), red(255, 0, 0);
        const QString expected[] = {"one", "three", "Wrong command!"};
        for (int q = 0; q < 6; ++q) {
            QCOMPARE(lit.at(q).row, q % 3 + 1);
            QCOMPARE(lit.at(q).text, expected[q % 3]);
            QCOMPARE(lit.at(q).colour, q % 3 == 2 ? red : green);
        }

        // Slave 1 goes to another tab: its next query goes unanswered.
        slaves[0]->tabStrip()->setCurrentIndex(int(Tab::Help));
        QVERIFY(!slaves[0]->link().pollingChannel().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 7, 8000);
        QCOMPARE(queried.at(6), 1);
        QTest::qWait(2500);
        QCOMPARE(lit.size(), 6);

        QTest::mouseClick(at(master, "Command20"), Qt::LeftButton);
        QVERIFY(!poller->isRunning() && !master.link().pollingChannel().isOpen());
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(PollingEndToEndTest)
#include "test_polling_end_to_end.moc"
