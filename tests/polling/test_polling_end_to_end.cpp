// Polling through the module simulator with real timings: one master window
// polls three slave windows (addresses 1, 3 and 9) for two full cycles; each
// answer lights its own row, a slave that does not know the command red, and
// a slave on another tab stays silent.
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
        int port = 1;
        for (const char* link : {"m", "s1", "s3", "s9"})
            qputenv("RAVA2_COM" + QByteArray::number(port++), sim.linkPath(link).toLocal8Bit());
        test::RecordingMessenger messages;
        MainWindow master;
        master.setMessenger(&messages);
        master.tabStrip()->setCurrentIndex(int(Tab::Polling));
        std::vector<std::unique_ptr<MainWindow>> slaves;
        // Address, the master's command, what the slave expects (9 another), its reply.
        const char* rows[][4] = {{"1", "ONE?", "ONE?", "one"},
                                 {"3", "THREE?", "THREE?", "three"},
                                 {"9", "NINE?", "nine?", "nine"}};
        for (int k = 0; k < 3; ++k) {
            auto& win = *slaves.emplace_back(std::make_unique<MainWindow>());
            win.setMessenger(&messages);
            set(win, "Combo1", "currentIndex", k + 1); // COM 2..4
            QTest::mouseClick(require<QWidget>(&win, "Option2"), Qt::LeftButton);
            set(win, "Text24", "text", rows[k][2]);
            set(win, "Text25", "text", rows[k][3]);
            win.tabStrip()->setCurrentIndex(int(Tab::Polling));
            set(master, form::arrayMember("Check1", k + 1), "checked", true);
            set(master, form::arrayMember("Text4", k + 1), "text", rows[k][0]);
            set(master, form::arrayMember("Text14", k + 1), "text", rows[k][1]);
        }
        QVERIFY(sim.waitStations({"s1", "s3", "s9"}));
        QStringList lit; // "row text colour" as each reply box lights
        for (int i = 1; i <= 5; ++i) {
            auto* box = require<QLineEdit>(&master, form::arrayMember("Text19", i));
            connect(box, &QLineEdit::textChanged, this, [&lit, box, i](const QString& text) {
                if (!text.isEmpty())
                    lit << QString("%1 %2 %3")
                               .arg(i)
                               .arg(text, box->palette().base().color().name());
            });
        }
        QList<int> queried;
        auto* poller = master.findChild<polling::MasterPoller*>();
        QVERIFY(poller);
        connect(poller, &polling::MasterPoller::queried, this, [&](int row) { queried << row; });

        QTest::mouseClick(require<QWidget>(&master, "Command15"), Qt::LeftButton);
        QVERIFY(poller->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 6 && lit.size() >= 6, 40000);
        QCOMPARE(queried.mid(0, 6), (QList<int>{1, 2, 3, 1, 2, 3}));
        const QStringList cycle{"1 one #00ff00", "2 three #00ff00", "3 Wrong command! #ff0000"};
        QCOMPARE(lit.mid(0, 6), cycle + cycle);
        // Slave 1 goes to another tab: its next query goes unanswered.
        slaves[0]->tabStrip()->setCurrentIndex(int(Tab::Help));
        QTRY_VERIFY_WITH_TIMEOUT(queried.size() >= 7, 8000);
        QTest::qWait(2500);
        QCOMPARE(lit.size(), 6);
        QTest::mouseClick(require<QWidget>(&master, "Command20"), Qt::LeftButton);
        QVERIFY(!poller->isRunning() && !master.link().pollingChannel().isOpen());
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(PollingEndToEndTest)
#include "test_polling_end_to_end.moc"
