// Polling through the module simulator with real timings: one master window
// and three slave windows (addresses 1, 3 and 9). The master polls for two
// full cycles; each slave's answer lights its own row, a slave that does not
// know the command lights red, and a slave on another tab stays silent.
#include "form/controls.h"
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "polling/master_poller.h"
#include "sim/sim_process.h"
#include "support/recording.h"

#include <QLineEdit>
#include <QtTest>
#include <memory>

using namespace rava;
using form::require;

namespace {
void set(MainWindow& win, const QString& name, const char* property, const QVariant& value) {
    require<QWidget>(&win, name)->setProperty(property, value);
}
} // namespace

class PollingEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void masterPollsThreeSlaves() {
        test::SimProcess sim({"m=master:0", "s1=slave:1", "s3=slave:3", "s9=slave:9"});
        QVERIFY(sim.start());
        const char* links[] = {"m", "s1", "s3", "s9"};
        for (int port = 1; port <= 4; ++port)
            qputenv(QByteArray("RAVA2_COM") + QByteArray::number(port),
                    sim.linkPath(links[port - 1]).toLocal8Bit());
        test::RecordingMessenger messages;
        MainWindow master;
        std::vector<std::unique_ptr<MainWindow>> slaves;
        // Slave 9 expects another command than the master sends it.
        const char* slaveBoxes[][2] = {{"ONE?", "one"}, {"THREE?", "three"}, {"nine?", "nine"}};
        for (int k = 0; k < 3; ++k) {
            auto& win = *slaves.emplace_back(std::make_unique<MainWindow>());
            win.setMessenger(&messages);
            set(win, "Combo1", "currentIndex", k + 1); // COM 2..4
            QTest::mouseClick(require<QWidget>(&win, "Option2"), Qt::LeftButton);
            set(win, "Text24", "text", slaveBoxes[k][0]);
            set(win, "Text25", "text", slaveBoxes[k][1]);
            win.tabStrip()->setCurrentIndex(int(Tab::Polling));
            QVERIFY(win.link().pollingChannel().isOpen());
        }
        QVERIFY(sim.waitStations({"s1", "s3", "s9"}));
        master.setMessenger(&messages);
        master.tabStrip()->setCurrentIndex(int(Tab::Polling));
        const char* rows[][2] = {{"1", "ONE?"}, {"3", "THREE?"}, {"9", "NINE?"}};
        QStringList lit; // "row text colour" as each reply box lights
        for (int i = 1; i <= 5; ++i) {
            if (i <= 3) {
                set(master, form::arrayMember("Check1", i), "checked", true);
                set(master, form::arrayMember("Text4", i), "text", rows[i - 1][0]);
                set(master, form::arrayMember("Text14", i), "text", rows[i - 1][1]);
            }
            auto* box = require<QLineEdit>(&master, form::arrayMember("Text19", i));
            connect(box, &QLineEdit::textChanged, this, [&lit, box, i](const QString& text) {
                if (!text.isEmpty())
                    lit << QStringLiteral("%1 %2 %3")
                               .arg(i)
                               .arg(text)
                               .arg(box->palette().color(QPalette::Base).name());
            });
        }
        QList<int> queried;
        auto* poller = master.findChild<polling::MasterPoller*>();
        QVERIFY(poller);
        connect(poller, &polling::MasterPoller::queried, this, [&](int row) { queried << row; });

        QTest::mouseClick(require<QWidget>(&master, "Command15"), Qt::LeftButton);
        QVERIFY(poller->isRunning());
        // Two full cycles; each reply lights its own row after its query.
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 6 && lit.size() >= 6, 40000);
        QCOMPARE(queried.mid(0, 6), (QList<int>{1, 2, 3, 1, 2, 3}));
        const QStringList cycle{"1 one #00ff00", "2 three #00ff00", "3 Wrong command! #ff0000"};
        QCOMPARE(lit.mid(0, 6), cycle + cycle);

        // Slave 1 goes to another tab: its next query goes unanswered.
        slaves[0]->tabStrip()->setCurrentIndex(int(Tab::Help));
        QVERIFY(!slaves[0]->link().pollingChannel().isOpen());
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 7, 8000);
        QCOMPARE(queried.at(6), 1);
        QTest::qWait(2500);
        QCOMPARE(lit.size(), 6);

        QTest::mouseClick(require<QWidget>(&master, "Command20"), Qt::LeftButton);
        QVERIFY(!poller->isRunning() && !master.link().pollingChannel().isOpen());
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(PollingEndToEndTest)
#include "test_polling_end_to_end.moc"
