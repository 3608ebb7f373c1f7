// Start-up, the two lists of the "Set up" tab, the remote address box, the
// master/slave enabling, Info, tab locking and Exit.
#include "window_helpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <tuple>

using namespace rava;

namespace {

// Enabled ('1') or not at creation, after a Master click, after a Slave click.
QList<QPair<QString, const char*>> enablingTable() {
    QList<QPair<QString, const char*>> rows = {
        {"Label7", "110"},  {"Text12", "110"},  {"Frame9", "110"},    {"Label3", "110"},
        {"Label20", "110"}, {"Label21", "110"}, {"Command15", "110"}, {"Command20", "010"},
        {"Frame10", "001"}, {"Label22", "001"}, {"Label23", "001"},   {"Label24", "001"},
        {"Text24", "001"},  {"Text25", "001"},
    };
    for (int i = 1; i <= 5; ++i)
        for (const char* array : {"Check1_%1", "Text4_%1", "Text14_%1", "Text19_%1"})
            rows.append({QString::fromLatin1(array).arg(i), "110"});
    return rows;
}

} // namespace

class ModeTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void init() { start(); }
    void cleanup() { window.reset(); }

    void startUpState() {
        QCOMPARE(currentTab(), Tab::SetUp);
        QCOMPARE(get<QComboBox>("Combo1")->currentText(), QString("COM 1"));
        QCOMPARE(get<QComboBox>("Combo2")->currentText(), QString("115200,none,8,1"));
        for (SerialChannel* ch : channels()) {
            QCOMPARE(ch->port(), 1);
            QCOMPARE(ch->settings(), QString("115200,n,8,1"));
            QVERIFY(!ch->isOpen());
        }
        QVERIFY(window->settings().isMaster());
        QCOMPARE(window->settings().remoteAddress(), 0);
        QVERIFY(get<QLineEdit>("Text12")->text().isEmpty());
    }

    void lineSettingReachesAllFourChannels() {
        const std::tuple<int, const char*, const char*> rows[] = {
            {2, "9600.even,8,1", "9600,e,8,1"}, {4, "19200.odd,8,1", "19200,o,8,1"}};
        for (const auto& [index, shown, settings] : rows) {
            auto* list = get<QComboBox>("Combo2");
            list->setCurrentIndex(index);
            QCOMPARE(list->currentText(), QString(shown));
            for (SerialChannel* ch : channels())
                QCOMPARE(ch->settings(), QString(settings));
        }
    }

    void portChoiceLeavesTheProgrammingChannelOnPort1() {
        get<QComboBox>("Combo1")->setCurrentIndex(2);
        StationLink& link = window->link();
        for (SerialChannel* ch :
             {&link.textChannel(), &link.imageChannel(), &link.pollingChannel()})
            QCOMPARE(ch->port(), 3);
        QCOMPARE(link.programmingChannel().port(), 1);
    }

    // Every change of the box is filtered at once; pages see the result.
    void remoteAddressIsFilteredAtEveryKey() {
        auto* box = get<QLineEdit>("Text12");
        const StationSettings& settings = window->settings();
        const std::tuple<const char*, const char*, int> steps[] = {
            {"2", "2", 2},   {"5", "25", 25}, {"6", "", 0}, // 256 is no byte
            {"1A", "1A", 1}, {"b", "", 0},                  // a lowercase letter empties
            {"17", "17", 17}};
        for (const auto& [keys, kept, address] : steps) {
            QTest::keyClicks(box, keys);
            QCOMPARE(box->text(), QString(kept));
            QCOMPARE(settings.remoteAddress(), address);
        }
        click("Option2");
        QVERIFY(!settings.isMaster());
        QVERIFY(box->text().isEmpty());
        QCOMPARE(settings.remoteAddress(), 0);
        click("Option1");
        QVERIFY(settings.isMaster());
        QCOMPARE(settings.remoteAddress(), 0);
    }

    void enablingFollowsTheMode() {
        // No click, then Master (already selected), Slave and Master again.
        const QList<QPair<const char*, int>> clicks = {
            {nullptr, 0}, {"Option1", 1}, {"Option2", 2}, {"Option1", 1}};
        for (const auto& [option, column] : clicks) {
            if (option)
                click(option);
            for (const auto& [name, enabled] : enablingTable()) {
                QWidget* w = window->findChild<QWidget*>(name);
                QVERIFY2(w && w->isEnabled() == (enabled[column] == '1'),
                         qPrintable(name + " after " + (option ? option : "creation")));
            }
        }
        // Controls outside the table keep their state.
        QVERIFY(!get("Command4")->isEnabled());
        QVERIFY(get("Command3")->isEnabled());
    }

    void infoAndPageErrorsGoThroughTheMessenger() {
        click("Command2");
        QCOMPARE(messages.infoTitles, QStringList{"2002 Rava 2 Demo - Version 1.2"});
        window->context().messenger->error("from a page");
        QCOMPARE(messages.errors, QStringList{"from a page"});
    }

    void lockedTabsCannotBeChosen() {
        window->context().lockTabs(Tab::SetUp, true);
        for (int i = 0; i < kTabCount; ++i)
            QCOMPARE(window->tabStrip()->isTabEnabled(i), i == int(Tab::SetUp));
        clickTab(Tab::SendImage);
        QCOMPARE(currentTab(), Tab::SetUp);
        window->context().lockTabs(Tab::SetUp, false);
        clickTab(Tab::SendImage);
        QCOMPARE(currentTab(), Tab::SendImage);
    }

    void exitClosesTheWindow() {
        click("Command1");
        QVERIFY(!window->isVisible());
    }

private:
    QList<SerialChannel*> channels() {
        StationLink& link = window->link();
        return {&link.textChannel(), &link.imageChannel(), &link.pollingChannel(),
                &link.programmingChannel()};
    }
};

QTEST_MAIN(ModeTest)
#include "test_mode.moc"
