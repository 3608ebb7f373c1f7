// Start-up, the two lists of the "Set up" tab, the remote address box, the
// master/slave enabling, Info, Exit and the window's services for pages.
#include "window_helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

using namespace rava;
using rava::test::child;
using rava::test::clickControl;
using rava::test::RecordingMessenger;

namespace {

enum State { Off = 0, On = 1 };

struct EnablingRow {
    QString name;
    State atCreation;
    State afterMaster;
    State afterSlave;
};

// The enabled flag of each mode-dependent control at creation and after a
// click on either option.
QList<EnablingRow> enablingTable() {
    QList<EnablingRow> rows = {
        {"Label7", On, On, Off},    {"Text12", On, On, Off},     {"Frame9", On, On, Off},
        {"Label3", On, On, Off},    {"Label20", On, On, Off},    {"Label21", On, On, Off},
        {"Command15", On, On, Off}, {"Command20", Off, On, Off}, {"Frame10", Off, Off, On},
        {"Label22", Off, Off, On},  {"Label23", Off, Off, On},   {"Label24", Off, Off, On},
        {"Text24", Off, Off, On},   {"Text25", Off, Off, On},
    };
    for (int i = 1; i <= 5; ++i)
        for (const char* array : {"Check1", "Text4", "Text14", "Text19"})
            rows.append({QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(i), On, On, Off});
    return rows;
}

} // namespace

class ModeTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        messages_ = RecordingMessenger();
        window_ = std::make_unique<MainWindow>();
        window_->setMessenger(&messages_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() { window_.reset(); }

    void startUpState() {
        QCOMPARE(window_->tabStrip()->currentIndex(), 0);
        QCOMPARE(child<QComboBox>(window_.get(), "Combo1")->currentText(), QStringLiteral("COM 1"));
        QCOMPARE(child<QComboBox>(window_.get(), "Combo2")->currentText(),
                 QStringLiteral("115200,none,8,1"));
        StationLink& link = window_->link();
        for (SerialChannel* ch : {&link.textChannel(), &link.imageChannel(), &link.pollingChannel(),
                                  &link.programmingChannel()}) {
            QCOMPARE(ch->port(), 1);
            QCOMPARE(ch->settings(), QStringLiteral("115200,n,8,1"));
            QVERIFY(!ch->isOpen());
        }
        QCOMPARE(link.lineSetting(), 9);
        QCOMPARE(link.pacingMs(), 50);
        QCOMPARE(link.blockGapMs(), 20);
        QCOMPARE(link.lastBlockDelayMs(), 30);
        QVERIFY(window_->isMaster());
        QCOMPARE(window_->remoteAddress(), 0);
        QVERIFY(child<QLineEdit>(window_.get(), "Text12")->text().isEmpty());
        QVERIFY(messages_.errors.isEmpty() && messages_.infoTitles.isEmpty());
    }

    void lineSettingReachesAllFourChannels() {
        auto* list = child<QComboBox>(window_.get(), "Combo2");
        StationLink& link = window_->link();
        const QList<SerialChannel*> all = {&link.textChannel(), &link.imageChannel(),
                                           &link.pollingChannel(), &link.programmingChannel()};
        list->setCurrentIndex(2); // "9600.even,8,1"
        for (SerialChannel* ch : all)
            QCOMPARE(ch->settings(), QStringLiteral("9600,e,8,1"));
        QCOMPARE(link.pacingMs(), 90);
        QCOMPARE(link.blockGapMs(), 35);
        QCOMPARE(link.lastBlockDelayMs(), 90);

        list->setCurrentIndex(5);
        list->setCurrentIndex(3);
        for (SerialChannel* ch : all)
            QCOMPARE(ch->settings(), QStringLiteral("19200,n,8,1"));
        QCOMPARE(link.pacingMs(), 50);
        QCOMPARE(link.blockGapMs(), 30);
        QCOMPARE(link.lastBlockDelayMs(), 40);

        // The user's way: open the list and pick with the keyboard.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex(), 4);
        QCOMPARE(link.textChannel().settings(), QStringLiteral("19200,o,8,1"));
    }

    void portChoiceLeavesTheProgrammingChannelOnPort1() {
        auto* list = child<QComboBox>(window_.get(), "Combo1");
        StationLink& link = window_->link();
        list->setCurrentIndex(2);
        QCOMPARE(link.textChannel().port(), 3);
        QCOMPARE(link.imageChannel().port(), 3);
        QCOMPARE(link.pollingChannel().port(), 3);
        QCOMPARE(link.programmingChannel().port(), 1);
        list->setCurrentIndex(3);
        QCOMPARE(link.pollingChannel().port(), 4);
        QCOMPARE(link.programmingChannel().port(), 1);
    }

    void typedAddressIsFilteredAtEveryKey() {
        auto* box = child<QLineEdit>(window_.get(), "Text12");
        box->setFocus();
        QTest::keyClick(box, Qt::Key_2);
        QCOMPARE(window_->remoteAddress(), 2);
        QTest::keyClick(box, Qt::Key_5);
        QCOMPARE(window_->remoteAddress(), 25);
        QCOMPARE(box->text(), QStringLiteral("25"));
        QTest::keyClick(box, Qt::Key_6); // 256 is no byte
        QCOMPARE(box->text(), QString());
        QCOMPARE(window_->remoteAddress(), 0);

        QTest::keyClicks(box, "200");
        QCOMPARE(window_->remoteAddress(), 200);
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(window_->remoteAddress(), 20);
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QCOMPARE(window_->remoteAddress(), 0);
    }

    void addressEntries_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("address");
        QTest::newRow("uppercase letter stays") << "1A"
                                                << "1A" << 1;
        QTest::newRow("letter alone") << "A"
                                      << "A" << 0;
        QTest::newRow("lowercase letter empties") << "12b"
                                                  << "" << 0;
        QTest::newRow("negative") << "-1"
                                  << "" << 0;
        QTest::newRow("sign alone") << "-"
                                    << "-" << 0;
        QTest::newRow("half to even down") << "2.5"
                                           << "2.5" << 2;
        QTest::newRow("half to even up") << "3.5"
                                         << "3.5" << 4;
        QTest::newRow("leading point") << ".9"
                                       << ".9" << 1;
        QTest::newRow("exponent") << "1E2"
                                  << "1E2" << 100;
        QTest::newRow("hexadecimal") << "&HF"
                                     << "&HF" << 15;
        QTest::newRow("at most three characters") << "1234"
                                                  << "123" << 123;
    }

    void addressEntries() {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(int, address);
        auto* box = child<QLineEdit>(window_.get(), "Text12");
        box->setText(QStringLiteral("7")); // an earlier address that must not survive
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, typed);
        QCOMPARE(box->text(), kept);
        QCOMPARE(window_->remoteAddress(), address);
    }

    void addressSetByTheProgramIsFilteredToo() {
        auto* box = child<QLineEdit>(window_.get(), "Text12");
        box->setText(QStringLiteral("42"));
        QCOMPARE(window_->remoteAddress(), 42);
        box->setText(QStringLiteral("999"));
        QCOMPARE(box->text(), QString());
        QCOMPARE(window_->remoteAddress(), 0);
    }

    void slaveClickEmptiesAddressAndMasterKeepsIt() {
        auto* box = child<QLineEdit>(window_.get(), "Text12");
        QTest::keyClicks(box, "17");
        QCOMPARE(window_->remoteAddress(), 17);
        // Texts of the polling boxes are not the options' business.
        child<QLineEdit>(window_.get(), "Text14_2")->setText(QStringLiteral("poll"));
        child<QLineEdit>(window_.get(), "Text24")->setText(QStringLiteral("cmd"));

        clickControl(child<QRadioButton>(window_.get(), "Option2"));
        QVERIFY(!window_->isMaster());
        QCOMPARE(box->text(), QString());
        QCOMPARE(window_->remoteAddress(), 0);
        QVERIFY(!box->isEnabled());

        clickControl(child<QRadioButton>(window_.get(), "Option1"));
        QVERIFY(window_->isMaster());
        QVERIFY(box->isEnabled());
        QCOMPARE(window_->remoteAddress(), 0);
        QCOMPARE(child<QLineEdit>(window_.get(), "Text14_2")->text(), QStringLiteral("poll"));
        QCOMPARE(child<QLineEdit>(window_.get(), "Text24")->text(), QStringLiteral("cmd"));
        QVERIFY(!window_->link().pollingChannel().isOpen());
    }

    void enablingFollowsTheMode() {
        auto check = [this](State EnablingRow::*column, const char* when) {
            for (const EnablingRow& row : enablingTable()) {
                QWidget* w = window_->findChild<QWidget*>(row.name);
                if (!w)
                    return QString(row.name + QLatin1String(" missing"));
                if (w->isEnabled() != (row.*column == On))
                    return QStringLiteral("%1 %2 %3")
                        .arg(row.name, row.*column == On ? "disabled" : "enabled", when);
            }
            return QString();
        };
        QCOMPARE(check(&EnablingRow::atCreation, "at creation"), QString());
        clickControl(child<QRadioButton>(window_.get(), "Option1")); // already selected
        QCOMPARE(check(&EnablingRow::afterMaster, "after Master"), QString());
        clickControl(child<QRadioButton>(window_.get(), "Option2"));
        QCOMPARE(check(&EnablingRow::afterSlave, "after Slave"), QString());
        clickControl(child<QRadioButton>(window_.get(), "Option1"));
        QCOMPARE(check(&EnablingRow::afterMaster, "after Slave then Master"), QString());
        // Controls outside the table keep their state.
        QVERIFY(!child<QPushButton>(window_.get(), "Command4")->isEnabled());
        QVERIFY(child<QPushButton>(window_.get(), "Command3")->isEnabled());
    }

    void infoGoesThroughTheMessenger() {
        clickControl(child<QPushButton>(window_.get(), "Command2"));
        QCOMPARE(messages_.infoTitles, QStringList{"2002 Rava 2 Demo - Version 1.2"});
        const QStringList lines = messages_.infoTexts.value(0).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith(QLatin1String("Author: ")));
        QVERIFY(lines[1].isEmpty());
        QVERIFY(lines[2].startsWith(QLatin1String("E-mail address: ")));
        QVERIFY(lines[3].isEmpty());
        QVERIFY(lines[4].startsWith(QLatin1String("Tel. number: ")));
        QVERIFY(messages_.errors.isEmpty());
        // Nothing else changes.
        QCOMPARE(window_->tabStrip()->currentIndex(), 0);
        QVERIFY(window_->isMaster());
    }

    void replacedServicesReachThePages() {
        const StationContext& ctx = window_->context();
        QCOMPARE(ctx.form, static_cast<QWidget*>(window_.get()));
        QCOMPARE(ctx.link, &window_->link());
        ctx.messenger->error(QStringLiteral("from a page"));
        QCOMPARE(messages_.errors, QStringList{"from a page"});

        RecordingMessenger other;
        window_->setMessenger(&other);
        ctx.messenger->info(QStringLiteral("t"), QStringLiteral("x"));
        QCOMPARE(other.infoTitles, QStringList{"t"});
        QVERIFY(messages_.infoTitles.isEmpty());

        QString askedTitle;
        window_->setFileChooser([&askedTitle](const QString& title, const QString&) {
            askedTitle = title;
            return QStringLiteral("/tmp/chosen.txt");
        });
        QCOMPARE(ctx.chooseFile(QStringLiteral("Open"), QStringLiteral("*.txt")),
                 QStringLiteral("/tmp/chosen.txt"));
        QCOMPARE(askedTitle, QStringLiteral("Open"));

        QTest::keyClicks(child<QLineEdit>(window_.get(), "Text12"), "9");
        QCOMPARE(ctx.remoteAddress(), 9);
        QVERIFY(ctx.isMaster());
        clickControl(child<QRadioButton>(window_.get(), "Option2"));
        QVERIFY(!ctx.isMaster());
    }

    void lockTabsKeepsOnlyOneTab() {
        TabStrip* strip = window_->tabStrip();
        window_->context().lockTabs(2, true);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(strip->isTabEnabled(i), i == 2);
        window_->lockTabs(2, false);
        for (int i = 0; i < 7; ++i)
            QVERIFY(strip->isTabEnabled(i));
    }

    void lockedTabCannotBeChosen() {
        window_->lockTabs(0, true);
        test::clickTab(*window_, 3);
        QCOMPARE(window_->tabStrip()->currentIndex(), 0);
        window_->lockTabs(0, false);
        test::clickTab(*window_, 3);
        QCOMPARE(window_->tabStrip()->currentIndex(), 3);
    }

    void exitClosesTheWindow() {
        QVERIFY(window_->isVisible());
        clickControl(child<QPushButton>(window_.get(), "Command1"));
        QVERIFY(!window_->isVisible());
        QVERIFY(!window_->testAttribute(Qt::WA_DeleteOnClose));
    }

private:
    std::unique_ptr<MainWindow> window_;
    RecordingMessenger messages_;
};

QTEST_MAIN(ModeTest)
#include "test_mode.moc"
