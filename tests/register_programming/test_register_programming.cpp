// Register programming on an in-memory channel with short waits: the bytes
// of each operation, the outcome of each reply, the settle wait, the reply
// timeout, refusals, and the frame's entry filters and buttons.
#include "main_window/layout.h"
#include "register_programming/register_page.h"
#include "register_programming/register_programmer.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace rava;
using namespace rava::registers;
using K = rava::registers::Outcome::Kind;
using Bytes = QList<QByteArray>;

namespace {

constexpr int kWaitMs = 60; // the settle wait and the reply timeout
const rava::registers::Timings kShort{kWaitMs, kWaitMs};
const QString kFailed = QStringLiteral("Operation failed. Check the settings!");

// The "Set up" tab's controls with the register page on a fake channel and
// short waits; each outcome is kept with whether the channel was open then.
struct Frame {
    QWidget root;
    test::FakeChannel channel;
    test::RecordingMessenger messages;
    std::unique_ptr<RegisterPage> page;
    QLabel* status = nullptr;
    QList<QPushButton*> buttons;
    QList<Outcome> outcomes;
    QList<bool> openAtOutcome;

    explicit Frame(const rava::registers::Timings& timings = kShort) {
        layout::build(layout::tabPage(Tab::SetUp), &root);
        StationContext ctx;
        ctx.messenger = &messages;
        page = std::make_unique<RegisterPage>(ctx, &root, channel, timings);
        status = root.findChild<QLabel*>("Label17");
        for (const char* name : {"Command16", "Command17", "Command18", "Command19"})
            buttons << root.findChild<QPushButton*>(name);
        QObject::connect(&programmer(), &RegisterProgrammer::finished, &root,
                         [this](const Outcome& o) {
                             outcomes << o;
                             openAtOutcome << channel.isOpen();
                         });
        root.show();
    }
    RegisterProgrammer& programmer() { return page->programmer(); }
    bool waitWrites(int count) {
        return QTest::qWaitFor([&] { return channel.writes.size() >= count; }, 3000);
    }
    // One outcome, told after the channel was closed, and nothing left open.
    void checkEnded() {
        QVERIFY(QTest::qWaitFor([&] { return !outcomes.isEmpty(); }, 3000));
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(openAtOutcome, QList<bool>{false});
        QCOMPARE(channel.closes, channel.opens);
        QCOMPARE(programmer().state(), RegisterProgrammer::State::Idle);
    }
};

} // namespace

class RegisterProgrammingTest : public QObject {
    Q_OBJECT

private slots:
    // Each operation from request to outcome: the writes and the status.
    void operations() {
        const QByteArray readA("$\0", 2), readP("$\3");
        const struct {
            Operation operation;
            double requested;
            QByteArray reply; // empty: the module stays silent
            Bytes wire;
            QString status;
        } rows[] = {
            {Operation::ReadParity, 0, "\3\11$", {readP}, "Parity is 3"}, // the first byte counts
            {Operation::WriteAddress, 2.5, "\2", {QByteArray("#\0\2", 3), readA}, kFailed},
            {Operation::WriteParity, 1, {}, {"#\3\1", readP}, kFailed},         // no module
            {Operation::WriteAddress, 255.5, {}, {}, "Address out of range!"}}; // 256 once rounded
        for (const auto& row : rows) {
            Frame f;
            QVERIFY(f.programmer().start(row.operation, row.requested));
            QVERIFY(f.waitWrites(int(row.wire.size())));
            if (!row.reply.isEmpty())
                f.channel.inject(row.reply);
            f.checkEnded();
            QCOMPARE(f.channel.writes, row.wire);
            QCOMPARE(f.channel.opens, row.wire.isEmpty() ? 0 : 1);
            QCOMPARE(f.status->text(), row.status);
        }
    }

    // With the real waits: the read-back leaves no earlier than the settle
    // wait (1 s) after the write; the failure no earlier than the reply
    // timeout (1 s) after it. A byte during the settle wait is noise, never
    // the reply, even one equal to the value. A second request in either
    // wait is ignored, and no button can make one.
    void waitsSettleNoiseAndSecondRequests() {
        Frame f(rava::registers::Timings{});
        QElapsedTimer clock;
        qint64 readBackAt = -1, endedAt = -1;
        QObject::connect(&f.programmer(), &RegisterProgrammer::finished, &f.programmer(),
                         [&] { endedAt = clock.elapsed(); });
        QObject::connect(&f.programmer(), &RegisterProgrammer::stateChanged, &f.programmer(),
                         [&](RegisterProgrammer::State s) {
                             if (s == RegisterProgrammer::State::AwaitingReply)
                                 readBackAt = clock.elapsed();
                         });
        clock.start();
        QVERIFY(f.programmer().write(Register::Address, 5));
        f.channel.inject("\5");
        QCOMPARE(f.programmer().state(), RegisterProgrammer::State::Settling);
        QVERIFY(!f.programmer().start(Operation::ReadParity));
        QVERIFY(f.waitWrites(2));
        for (QPushButton* b : f.buttons) {
            QVERIFY(!b->isEnabled());
            QTest::mouseClick(b, Qt::LeftButton);
        }
        QVERIFY2(readBackAt >= 1000, qPrintable(QString::number(readBackAt)));
        QCOMPARE(f.channel.bytesWaiting(), 0);
        f.checkEnded();
        QVERIFY2(endedAt - readBackAt >= 1000, qPrintable(QString::number(endedAt)));
        QCOMPARE(f.outcomes.first().kind, K::NoReply);
        QCOMPARE(f.channel.writes.size(), 2);
        QTest::mouseClick(f.buttons[2], Qt::LeftButton);
        QCOMPARE(f.channel.writes.last(), QByteArray("$\3"));
        QCOMPARE(f.channel.opens, 2);
    }

    // The device going away during the settle wait ends the operation with
    // its reason and no late read-back.
    void lossDuringTheSettleWait() {
        Frame f;
        QVERIFY(f.programmer().write(Register::Address, 1));
        f.channel.close();
        emit f.channel.lost(QStringLiteral("COM 1: the device was removed."));
        f.checkEnded();
        QCOMPARE(f.outcomes.first().kind, K::ChannelLost);
        QCOMPARE(f.messages.errors,
                 QStringList{
                     "COM 1 (/dev/null) is no longer available; the register operation stopped."});
        QTest::qWait(2 * kWaitMs + 20);
        QCOMPARE(f.channel.writes.size(), 1);
        QCOMPARE(f.outcomes.size(), 1);
    }

    // Text5 keeps 0 to 255, Text7 0, 1 and 3; every edit clears the outcome.
    void entryFilters() {
        Frame f;
        const std::tuple<const char*, const char*, const char*> keys[] = {
            {"Text5", "25", "25"}, {"Text5", "6", ""}, {"Text7", "2", ""}, {"Text7", "3", "3"}};
        for (const auto& [box, key, kept] : keys) {
            f.status->setText(QStringLiteral("Address is 7"));
            auto* edit = f.root.findChild<QLineEdit*>(box);
            QTest::keyClicks(edit, key);
            QCOMPARE(edit->text(), QString(kept));
            QCOMPARE(f.status->text(), QString());
        }
    }
};

QTEST_MAIN(RegisterProgrammingTest)
#include "test_register_programming.moc"
