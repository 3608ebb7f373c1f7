// The "Polling" tab's controls on their own page, with an in-memory channel
// and short waits: the poll table's entry rules and a failed Start.
#include "form/controls.h"
#include "link/station_settings.h"
#include "main_window/layout.h"
#include "polling/master_poller.h"
#include "polling/polling_page.h"
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

class PollingPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> form;
    std::unique_ptr<FakeChannel> channel;
    std::unique_ptr<StationSettings> settings;
    test::RecordingMessenger messages;
    std::unique_ptr<PollingPage> page;

    template <typename T = QWidget> T* get(const QString& name) {
        return form->findChild<T*>(name);
    }
    QLineEdit* box(const char* array, int i) {
        return get<QLineEdit>(rava::form::arrayMember(array, i));
    }
    QString message() { return get<QLabel>("Label25")->text(); }
    static QString range(int row) {
        return QStringLiteral("Address of Slave %1 is outside the range!").arg(row);
    }

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
    }

    void addressFilter_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("boxes"); // the box's text after each key
        QTest::addColumn<int>("refusedAt");     // key whose refusal shows the message; -1: none
        QTest::addColumn<int>("address");       // the address byte the table holds
        QTest::newRow("2, 5, 6") << 1 << "256" << QStringList{"2", "25", ""} << 2 << 0;
        QTest::newRow("0 refused") << 2 << "0" << QStringList{""} << 0 << 0;
        QTest::newRow("12A kept as 12") << 3 << "12A" << QStringList{"1", "12", "12A"} << -1 << 12;
        QTest::newRow("lowercase letter") << 4 << "1a" << QStringList{"1", ""} << 1 << 0;
    }
    void addressFilter() {
        QFETCH(int, row);
        QFETCH(QString, keys);
        QFETCH(QStringList, boxes);
        QFETCH(int, refusedAt);
        QFETCH(int, address);
        QLineEdit* w = box("Text4", row);
        w->setFocus();
        for (int k = 0; k < keys.size(); ++k) {
            QTest::keyClicks(w, keys.mid(k, 1));
            QCOMPARE(w->text(), boxes.at(k));
            QCOMPARE(message(), k == refusedAt ? range(row) : QString());
        }
        QCOMPARE(page->table().address(row), address);
    }

    void uncheckingEmptiesTheRowCheckingChangesNothing() {
        auto* check = get<QCheckBox>("Check1_4");
        check->setChecked(true);
        box("Text4", 4)->setText("4");
        box("Text14", 4)->setText("PING");
        page->table().setReply(4, "pong", Light::Green);
        box("Text4", 1)->setText("0"); // a message on the line
        get<QCheckBox>("Check1_2")->setChecked(true);
        QCOMPARE(box("Text4", 4)->text(), QStringLiteral("4"));
        QCOMPARE(message(), range(1));
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
        QVERIFY(!check->isChecked());
        for (const char* name : {"Text4", "Text14", "Text19"})
            QCOMPARE(box(name, 4)->text(), QString());
        QCOMPARE(message(), QString());
        QCOMPARE(page->table().query(4), QByteArray(1, '\0'));
    }

    void failedStartTellsAndLeavesTheButtons() {
        auto* start = get<QPushButton>("Command15");
        auto* end = get<QPushButton>("Command20");
        end->setEnabled(false);
        channel->failOpen = true;
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(messages.errors, QStringList{channel->failReason});
        QVERIFY(start->isEnabled() && !end->isEnabled());
        QVERIFY(!page->master().isRunning());
    }
};

QTEST_MAIN(PollingPageTest)
#include "test_polling_page.moc"
