// The remote address box and the enabling that follows Master and Slave.
#include "window_helpers.h"

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
        QVERIFY(!settings.isMaster() && box->text().isEmpty() && settings.remoteAddress() == 0);
        click("Option1");
        QVERIFY(settings.isMaster() && settings.remoteAddress() == 0);
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
};

QTEST_MAIN(ModeTest)
#include "test_mode.moc"
