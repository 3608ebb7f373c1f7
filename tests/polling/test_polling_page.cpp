// The "Polling" tab's controls on their own page, with an in-memory channel
// and short waits: the poll table's entry rules, the lights' colours, Start
// and End, and the slave's tab rule.
#include "form/controls.h"
#include "link/station_settings.h"
#include "main_window/layout.h"
#include "polling/master_poller.h"
#include "polling/polling_page.h"
#include "polling/slave_responder.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::polling;
using rava::test::FakeChannel;

namespace {
QString rangeMessage(int row) {
    return QStringLiteral("Address of Slave %1 is outside the range!").arg(row);
}
} // namespace

class PollingPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> form;
    std::unique_ptr<FakeChannel> channel;
    std::unique_ptr<StationSettings> settings;
    test::RecordingMessenger messages;
    std::unique_ptr<PollingPage> page;

    template <typename T = QWidget> T* get(const QString& name) {
        T* w = form->findChild<T*>(name);
        if (!w)
            qWarning("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit* box(const char* array, int i) {
        return get<QLineEdit>(rava::form::arrayMember(array, i));
    }
    QString message() { return get<QLabel>("Label25")->text(); }
    QColor background(QLineEdit* w) { return w->palette().color(QPalette::Base); }

private slots:
    void init() {
        form = std::make_unique<QWidget>();
        layout::build(layout::tabPage(Tab::Polling), form.get());
        channel = std::make_unique<FakeChannel>();
        settings = std::make_unique<StationSettings>();
        messages = test::RecordingMessenger();
        StationContext ctx;
        ctx.settings = settings.get();
        ctx.messenger = &messages;
        page = std::make_unique<PollingPage>(ctx, form.get(), *channel, PollTimings{60, 30, 300});
        form->show();
    }
    void cleanup() {
        page.reset();
        form.reset();
        channel.reset();
        settings.reset();
    }

    void addressFilter_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("keys");
        // After each key: the box's text and the message line, "|"-separated.
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("address"); // the address byte the table holds
        QTest::newRow("2, 5, 6") << 1 << "256" << QStringList{"2", "25", ""}
                                 << QStringList{"", "", rangeMessage(1)} << 0;
        QTest::newRow("0 refused")
            << 2 << "0" << QStringList{""} << QStringList{rangeMessage(2)} << 0;
        QTest::newRow("12A kept as 12")
            << 3 << "12A" << QStringList{"1", "12", "12A"} << QStringList{"", "", ""} << 12;
        QTest::newRow("lowercase letter")
            << 4 << "1a" << QStringList{"1", ""} << QStringList{"", rangeMessage(4)} << 0;
        QTest::newRow("capital letter alone")
            << 5 << "A" << QStringList{""} << QStringList{rangeMessage(5)} << 0;
        QTest::newRow("255") << 5 << "255" << QStringList{"2", "25", "255"}
                             << QStringList{"", "", ""} << 255;
        QTest::newRow("1.5 rounds to 2")
            << 2 << "1.5" << QStringList{"1", "1.", "1.5"} << QStringList{"", "", ""} << 2;
        QTest::newRow("backspace to empty")
            << 1 << "7\b" << QStringList{"7", ""} << QStringList{"", rangeMessage(1)} << 0;
    }
    void addressFilter() {
        QFETCH(int, row);
        QFETCH(QString, keys);
        QFETCH(QStringList, boxes);
        QFETCH(QStringList, shown);
        QFETCH(int, address);
        QLineEdit* w = box("Text4", row);
        w->setFocus();
        for (int k = 0; k < keys.size(); ++k) {
            if (keys.at(k) == QLatin1Char('\b'))
                QTest::keyClick(w, Qt::Key_Backspace);
            else
                QTest::keyClicks(w, keys.mid(k, 1));
            QCOMPARE(w->text(), boxes.at(k));
            QCOMPARE(message(), shown.at(k));
        }
        QCOMPARE(page->table().address(row), address);
        QCOMPARE(page->table().row(row).address, boxes.last());
    }

    void uncheckingEmptiesTheRowCheckingChangesNothing() {
        auto* check = get<QCheckBox>("Check1_4");
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
        QVERIFY(check->isChecked());
        QVERIFY(page->table().row(4).enabled);
        box("Text4", 4)->setText("4");
        box("Text14", 4)->setText("PING");
        page->table().setReply(4, "pong", Light::Green);
        QCOMPARE(box("Text19", 4)->text(), QStringLiteral("pong"));
        box("Text4", 1)->setText("0"); // a message on the line
        QCOMPARE(message(), rangeMessage(1));
        // Checking another row changes nothing.
        get<QCheckBox>("Check1_2")->setChecked(true);
        QCOMPARE(box("Text4", 4)->text(), QStringLiteral("4"));
        QCOMPARE(message(), rangeMessage(1));

        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
        QVERIFY(!check->isChecked());
        QCOMPARE(box("Text4", 4)->text(), QString());
        QCOMPARE(box("Text14", 4)->text(), QString());
        QCOMPARE(box("Text19", 4)->text(), QString());
        QCOMPARE(message(), QString());
        QVERIFY(!page->table().row(4).enabled);
        QCOMPARE(page->table().row(4).command, QString());
        QCOMPARE(page->table().query(4), QByteArray(1, '\0'));
    }

    void startEndAndTheLightsOnTheRows() {
        settings->setMode(Mode::Master);
        auto* start = get<QPushButton>("Command15");
        auto* end = get<QPushButton>("Command20");
        get<QCheckBox>("Check1_3")->setChecked(true);
        box("Text4", 3)->setText("3");
        box("Text14", 3)->setText("AB");
        QTest::mouseClick(start, Qt::LeftButton);
        QVERIFY(!start->isEnabled());
        QVERIFY(end->isEnabled());
        QCOMPARE(channel->writes.value(0), QByteArray("\x03"
                                                      "AB"));

        // What the box shows at each change: its text and its background.
        QLineEdit* reply = box("Text19", 3);
        QList<QPair<QString, QColor>> shown;
        connect(reply, &QLineEdit::textChanged, this, [&](const QString& text) {
            shown.append({text, background(reply)});
        });
        channel->inject("\x03OK");
        QTRY_COMPARE(shown.size(), 2);
        channel->inject("\x03\x0F");
        QTRY_COMPARE(shown.size(), 4);
        const QColor green(0, 255, 0), red(255, 0, 0), white(255, 255, 255);
        const QList<QPair<QString, QColor>> expected{
            {"OK", green}, {"", white}, {"Wrong command!", red}, {"", white}};
        QCOMPARE(shown, expected);

        const int written = channel->writes.size();
        QTest::mouseClick(end, Qt::LeftButton);
        QVERIFY(start->isEnabled());
        QVERIFY(!end->isEnabled());
        QVERIFY(!channel->isOpen());
        QTest::qWait(150);
        QCOMPARE(channel->writes.size(), written);
        // Start is usable again at once.
        QTest::mouseClick(start, Qt::LeftButton);
        QVERIFY(page->master().isRunning());
        QCOMPARE(channel->writes.size(), written + 1);
        QVERIFY(messages.errors.isEmpty());
    }

    void failedStartTellsAndLeavesTheButtons() {
        auto* start = get<QPushButton>("Command15");
        auto* end = get<QPushButton>("Command20");
        for (bool endBefore : {false, true}) {
            end->setEnabled(endBefore); // at start-up, and after a click on "Master"
            channel->failOpen = true;
            messages.errors.clear();
            QTest::mouseClick(start, Qt::LeftButton);
            QCOMPARE(messages.errors, QStringList{channel->failReason});
            QVERIFY(start->isEnabled());
            QCOMPARE(end->isEnabled(), endBefore);
            QVERIFY(!page->master().isRunning());
        }
        // End with no cycle running swaps the buttons and nothing else.
        QTest::mouseClick(end, Qt::LeftButton);
        QVERIFY(start->isEnabled());
        QVERIFY(!end->isEnabled());
        QCOMPARE(channel->opens, 2);
    }

    void lostDeviceEndsTheCycleWithAMessage() {
        get<QCheckBox>("Check1_1")->setChecked(true);
        box("Text4", 1)->setText("1");
        QTest::mouseClick(get<QPushButton>("Command15"), Qt::LeftButton);
        channel->close();
        emit channel->lost(QStringLiteral("COM 1 (/dev/x) is gone."));
        QCOMPARE(messages.errors, QStringList{"Polling stopped: COM 1 (/dev/x) is gone."});
        QVERIFY(get<QPushButton>("Command15")->isEnabled());
        QVERIFY(!get<QPushButton>("Command20")->isEnabled());
    }

    void becomingASlaveEndsTheCycle() {
        get<QCheckBox>("Check1_1")->setChecked(true);
        box("Text4", 1)->setText("1");
        QTest::mouseClick(get<QPushButton>("Command15"), Qt::LeftButton);
        QVERIFY(page->master().isRunning());
        settings->setMode(Mode::Slave);
        QVERIFY(!page->master().isRunning());
        QVERIFY(!channel->isOpen());
        QTest::qWait(150);
        QCOMPARE(channel->writes.size(), 1);
    }

    void slaveTabRuleAndLight() {
        settings->setMode(Mode::Slave);
        get<QLineEdit>("Text24")->setText("STATUS");
        get<QLineEdit>("Text25")->setText("23C");
        auto* status = get<QLabel>("Label24");
        page->onTabChanged(Tab::Polling, Tab::SetUp);
        QVERIFY(channel->isOpen());
        // What the line shows at each change: its caption and background.
        QList<QPair<QString, QColor>> shown;
        connect(&page->slave(), &SlaveResponder::lightChanged, this, [&] {
            shown.append({status->text(), status->palette().color(QPalette::Window)});
        });
        channel->inject("STATUS");
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(channel->allWritten(), QByteArray("23C"));
        channel->inject("status");
        QTRY_COMPARE(shown.size(), 4);
        QCOMPARE(channel->allWritten(), QByteArray("23C\x0F"));
        const QColor green(0, 255, 0), red(255, 0, 0), white(255, 255, 255);
        const QList<QPair<QString, QColor>> expected{{"Command OK! Reply forwarded", green},
                                                     {"", white},
                                                     {"Command not recognised!", red},
                                                     {"", white}};
        QCOMPARE(shown, expected);
        // Leaving the tab closes the channel: no answers, no light.
        page->onTabChanged(Tab::Help, Tab::Polling);
        QVERIFY(!channel->isOpen());
        const QByteArray before = channel->allWritten();
        channel->open(); // as if someone else held it: still not answered
        channel->inject("STATUS");
        QTest::qWait(120);
        QCOMPARE(channel->allWritten(), before);
        QCOMPARE(status->text(), QString());
        channel->close();
        // Help -> Set up does nothing; in master mode no tab change opens.
        page->onTabChanged(Tab::SetUp, Tab::Help);
        QVERIFY(!channel->isOpen());
        settings->setMode(Mode::Master);
        page->onTabChanged(Tab::Polling, Tab::SetUp);
        QVERIFY(!channel->isOpen());
        // A slave whose port cannot be opened is told so.
        settings->setMode(Mode::Slave);
        channel->failOpen = true;
        page->onTabChanged(Tab::Help, Tab::Polling); // nothing to close
        page->onTabChanged(Tab::Polling, Tab::Help);
        QCOMPARE(messages.errors, QStringList{channel->failReason});
        QVERIFY(!channel->isOpen());
    }
};

QTEST_MAIN(PollingPageTest)
#include "test_polling_page.moc"
