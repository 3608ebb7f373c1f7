// Register programming on an in-memory channel with short waits: the bytes
// of each operation, the outcome of each reply, the settle wait, the reply
// timeout, refusals, and the page's entry filters and buttons.
#include "register_programming/register_page.h"
#include "register_programming/register_programmer.h"
#include "support/fake_channel.h"
#include "support/recording.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <QtTest>
#include <cmath>
#include <limits>
#include <memory>

using namespace rava;
using namespace rava::registers;
using rava::test::FakeChannel;

Q_DECLARE_METATYPE(rava::registers::Operation)
Q_DECLARE_METATYPE(rava::registers::Outcome::Kind)

namespace {

constexpr int kSettleMs = 60;
constexpr int kReplyMs = 60;
const RegisterProgrammer::Timings kShort{kSettleMs, kReplyMs};

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// A programmer on a fake channel with everything it reports recorded.
struct Rig {
    FakeChannel channel;
    RegisterProgrammer programmer{channel, kShort};
    QList<Outcome> outcomes;
    QList<bool> busy;
    QList<RegisterProgrammer::State> states;
    // Whether the channel was still open when each outcome was told.
    QList<bool> openAtOutcome;

    Rig() {
        QObject::connect(&programmer, &RegisterProgrammer::finished, &programmer,
                         [this](const Outcome& o) {
                             outcomes << o;
                             openAtOutcome << channel.isOpen();
                         });
        QObject::connect(&programmer, &RegisterProgrammer::busyChanged, &programmer,
                         [this](bool b) { busy << b; });
        QObject::connect(&programmer, &RegisterProgrammer::stateChanged, &programmer,
                         [this](RegisterProgrammer::State s) { states << s; });
    }

    bool waitWrites(int count, int timeoutMs = 2000) {
        QElapsedTimer t;
        t.start();
        while (channel.writes.size() < count && t.elapsed() < timeoutMs)
            QTest::qWait(2);
        return channel.writes.size() >= count;
    }
    bool waitOutcome(int timeoutMs = 2000) {
        QElapsedTimer t;
        t.start();
        while (outcomes.isEmpty() && t.elapsed() < timeoutMs)
            QTest::qWait(2);
        return !outcomes.isEmpty();
    }
    // Every operation ends the same way: one outcome, the channel closed
    // (and closed before the outcome was told), as often opened as closed;
    // `refusedOpens` open attempts failed.
    void checkEnded(int refusedOpens = 0) const {
        QCOMPARE(outcomes.size(), 1);
        QVERIFY(!channel.isOpen());
        QCOMPARE(openAtOutcome, QList<bool>{false});
        QCOMPARE(channel.closes, channel.opens - refusedOpens);
        QCOMPARE(programmer.state(), RegisterProgrammer::State::Idle);
    }
};

} // namespace

class RegisterProgrammingTest : public QObject {
    Q_OBJECT

private slots:
    // Each operation from request to outcome: what goes on the wire, in
    // which writes, and what the status line then says.
    void operations_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<double>("requested");
        QTest::addColumn<QByteArray>("reply"); // empty: the module stays silent
        QTest::addColumn<QList<QByteArray>>("wire");
        QTest::addColumn<Outcome::Kind>("kind");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("status");

        using K = Outcome::Kind;
        const QString failed = QStringLiteral("Operation failed. Check the settings!");
        QTest::newRow("read address 7")
            << Operation::ReadAddress << 0.0 << bytes({7}) << QList<QByteArray>{bytes({0x24, 0})}
            << K::Value << 7 << QStringLiteral("Address is 7");
        QTest::newRow("read parity 3")
            << Operation::ReadParity << 0.0 << bytes({3}) << QList<QByteArray>{bytes({0x24, 3})}
            << K::Value << 3 << QStringLiteral("Parity is 3");
        QTest::newRow("read address, several bytes: the first counts")
            << Operation::ReadAddress << 0.0 << bytes({7, 9, 0x24})
            << QList<QByteArray>{bytes({0x24, 0})} << K::Value << 7
            << QStringLiteral("Address is 7");
        QTest::newRow("write address 0")
            << Operation::WriteAddress << 0.0 << bytes({0})
            << QList<QByteArray>{bytes({0x23, 0, 0}), bytes({0x24, 0})} << K::Done << 0
            << QStringLiteral("Operation done. The new address is 0");
        QTest::newRow("write address 200 (a byte above 127)")
            << Operation::WriteAddress << 200.0 << bytes({200})
            << QList<QByteArray>{bytes({0x23, 0, 200}), bytes({0x24, 0})} << K::Done << 200
            << QStringLiteral("Operation done. The new address is 200");
        QTest::newRow("write parity 3")
            << Operation::WriteParity << 3.0 << bytes({3, 3})
            << QList<QByteArray>{bytes({0x23, 3, 3}), bytes({0x24, 3})} << K::Done << 3
            << QStringLiteral("Operation done. The new parity is 3");
        QTest::newRow("write address 2.5: writes 2, compares 2.5")
            << Operation::WriteAddress << 2.5 << bytes({2})
            << QList<QByteArray>{bytes({0x23, 0, 2}), bytes({0x24, 0})} << K::Mismatch << 2
            << failed;
        QTest::newRow("write address 3.5: writes 4 (half to even)")
            << Operation::WriteAddress << 3.5 << bytes({4})
            << QList<QByteArray>{bytes({0x23, 0, 4}), bytes({0x24, 0})} << K::Mismatch << 4
            << failed;
        QTest::newRow("write address 255, module keeps 254")
            << Operation::WriteAddress << 255.0 << bytes({254})
            << QList<QByteArray>{bytes({0x23, 0, 255}), bytes({0x24, 0})} << K::Mismatch << 254
            << failed;
        QTest::newRow("read address, no module")
            << Operation::ReadAddress << 0.0 << QByteArray() << QList<QByteArray>{bytes({0x24, 0})}
            << K::NoReply << -1 << failed;
        QTest::newRow("write parity, no module")
            << Operation::WriteParity << 1.0 << QByteArray()
            << QList<QByteArray>{bytes({0x23, 3, 1}), bytes({0x24, 3})} << K::NoReply << -1
            << failed;
    }
    void operations() {
        QFETCH(Operation, operation);
        QFETCH(double, requested);
        QFETCH(QByteArray, reply);
        QFETCH(QList<QByteArray>, wire);
        QFETCH(Outcome::Kind, kind);
        QFETCH(int, value);
        QFETCH(QString, status);

        Rig rig;
        QVERIFY(rig.programmer.start(operation, requested));
        QVERIFY(rig.programmer.isBusy());
        QVERIFY(rig.channel.isOpen());
        QCOMPARE(rig.channel.receiveThreshold(), 1);
        // The request for the reply is the last write; a write's read-back
        // follows its settle wait.
        QVERIFY(rig.waitWrites(wire.size()));
        if (!reply.isEmpty())
            rig.channel.inject(reply);
        QVERIFY(rig.waitOutcome());
        rig.checkEnded();
        QCOMPARE(rig.channel.writes, wire);
        const Outcome& o = rig.outcomes.first();
        QCOMPARE(o.operation, operation);
        QCOMPARE(o.kind, kind);
        QCOMPARE(o.value, value);
        QCOMPARE(statusText(o), status);
        QCOMPARE(rig.busy, (QList<bool>{true, false}));
        QCOMPARE(rig.programmer.lastOperation(), std::optional<Operation>(operation));
    }

    // A write whose value does not fit a register never touches the port.
    void outOfRange_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<double>("requested");
        QTest::addColumn<QString>("status");
        const QString address = QStringLiteral("Address out of range!");
        QTest::newRow("-1") << Operation::WriteAddress << -1.0 << address;
        QTest::newRow("-0.25") << Operation::WriteAddress << -0.25 << address;
        QTest::newRow("255.5 (would round to 256)") << Operation::WriteAddress << 255.5 << address;
        QTest::newRow("256") << Operation::WriteAddress << 256.0 << address;
        QTest::newRow("NaN") << Operation::WriteAddress << std::numeric_limits<double>::quiet_NaN()
                             << address;
        QTest::newRow("parity 300")
            << Operation::WriteParity << 300.0 << QStringLiteral("Parity out of range!");
    }
    void outOfRange() {
        QFETCH(Operation, operation);
        QFETCH(double, requested);
        QFETCH(QString, status);
        Rig rig;
        QVERIFY(rig.programmer.start(operation, requested));
        rig.checkEnded();
        QCOMPARE(rig.channel.opens, 0);
        QVERIFY(rig.channel.writes.isEmpty());
        QVERIFY(rig.busy.isEmpty());
        QCOMPARE(rig.outcomes.first().kind, Outcome::Kind::OutOfRange);
        QCOMPARE(statusText(rig.outcomes.first()), status);
    }

    // The read-back leaves no earlier than the settle wait after the write
    // request; the failure comes no earlier than the reply timeout after it.
    void waitsAreNeverShort() {
        Rig rig;
        QElapsedTimer clock;
        qint64 readBackAt = -1;
        QObject::connect(&rig.programmer, &RegisterProgrammer::stateChanged, &rig.programmer,
                         [&](RegisterProgrammer::State s) {
                             if (s == RegisterProgrammer::State::AwaitingReply)
                                 readBackAt = clock.elapsed();
                         });
        clock.start();
        QVERIFY(rig.programmer.write(Register::Address, 9));
        QCOMPARE(rig.channel.writes.size(), 1);
        QCOMPARE(rig.programmer.state(), RegisterProgrammer::State::Settling);
        QVERIFY(rig.waitOutcome());
        const qint64 endedAt = clock.elapsed();
        QVERIFY2(readBackAt >= kSettleMs, qPrintable(QString::number(readBackAt)));
        QVERIFY2(endedAt - readBackAt >= kReplyMs, qPrintable(QString::number(endedAt)));
        QCOMPARE(rig.states,
                 (QList<RegisterProgrammer::State>{RegisterProgrammer::State::Settling,
                                                   RegisterProgrammer::State::AwaitingReply,
                                                   RegisterProgrammer::State::Idle}));
        rig.checkEnded();
    }

    // The module answers nothing to a write: bytes during the settle wait are
    // noise and never the read-back's reply, even when they happen to equal
    // the requested value.
    void bytesDuringSettleAreNotTheReply_data() {
        QTest::addColumn<QByteArray>("noise");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Outcome::Kind>("kind");
        QTest::newRow("noise equal to the value, then silence")
            << bytes({5}) << QByteArray() << Outcome::Kind::NoReply;
        QTest::newRow("noise, then the right reply")
            << bytes({9, 9, 9}) << bytes({5}) << Outcome::Kind::Done;
        QTest::newRow("noise equal to the value, then a wrong reply")
            << bytes({5}) << bytes({6}) << Outcome::Kind::Mismatch;
    }
    void bytesDuringSettleAreNotTheReply() {
        QFETCH(QByteArray, noise);
        QFETCH(QByteArray, reply);
        QFETCH(Outcome::Kind, kind);
        Rig rig;
        QVERIFY(rig.programmer.write(Register::Address, 5));
        rig.channel.inject(noise);
        QVERIFY(rig.outcomes.isEmpty());
        QCOMPARE(rig.programmer.state(), RegisterProgrammer::State::Settling);
        // Noise that the receive event did not pick up is dropped too.
        rig.channel.setReceiveThreshold(0);
        rig.channel.inject(noise);
        rig.channel.setReceiveThreshold(1);
        QVERIFY(rig.waitWrites(2));
        QCOMPARE(rig.channel.bytesWaiting(), 0);
        if (!reply.isEmpty())
            rig.channel.inject(reply);
        QVERIFY(rig.waitOutcome());
        rig.checkEnded();
        QCOMPARE(rig.outcomes.first().kind, kind);
    }

    // A second request while one is pending, in each waiting state, is
    // ignored: no second open, no extra bytes, one outcome.
    void secondRequestWhilePending_data() {
        QTest::addColumn<Operation>("first");
        QTest::addColumn<Operation>("second");
        QTest::newRow("read during a read") << Operation::ReadAddress << Operation::ReadParity;
        QTest::newRow("write during a write's settle wait")
            << Operation::WriteAddress << Operation::WriteParity;
        QTest::newRow("read during a write's settle wait")
            << Operation::WriteParity << Operation::ReadAddress;
    }
    void secondRequestWhilePending() {
        QFETCH(Operation, first);
        QFETCH(Operation, second);
        Rig rig;
        QVERIFY(rig.programmer.start(first, 1));
        const QList<QByteArray> before = rig.channel.writes;
        QVERIFY(!rig.programmer.start(second, 1));
        QCOMPARE(rig.channel.opens, 1);
        QCOMPARE(rig.channel.writes, before);
        QCOMPARE(rig.programmer.lastOperation(), std::optional<Operation>(first));
        QVERIFY(rig.waitWrites(isWrite(first) ? 2 : 1));
        // Also ignored while the reply is awaited.
        QVERIFY(!rig.programmer.start(second, 1));
        rig.channel.inject(bytes({1}));
        QVERIFY(rig.waitOutcome());
        rig.checkEnded();
        QCOMPARE(rig.channel.opens, 1);
        QCOMPARE(rig.outcomes.first().operation, first);
        // Once over, the next operation runs.
        QVERIFY(rig.programmer.start(second, 1));
        QCOMPARE(rig.channel.opens, 2);
    }

    // A port that cannot be opened ends the operation at once, with the
    // reason; nothing is written and the next operation can still run.
    void channelThatCannotOpen() {
        Rig rig;
        rig.channel.failOpen = true;
        QVERIFY(rig.programmer.write(Register::Parity, 3));
        rig.checkEnded(1);
        QVERIFY(rig.channel.writes.isEmpty());
        QVERIFY(rig.busy.isEmpty());
        const Outcome o = rig.outcomes.first();
        QCOMPARE(o.kind, Outcome::Kind::OpenFailed);
        QCOMPARE(o.detail, rig.channel.failReason);
        QCOMPARE(statusText(o), QStringLiteral("Operation failed. Check the settings!"));
        // No late read-back from a settle wait that never started.
        QTest::qWait(kSettleMs * 2);
        QVERIFY(rig.channel.writes.isEmpty());
        rig.channel.failOpen = false;
        QVERIFY(rig.programmer.read(Register::Parity));
        QCOMPARE(rig.channel.writes, QList<QByteArray>{bytes({0x24, 3})});
    }

    // The device going away ends the operation in either wait; the settle
    // wait's read-back is not written afterwards.
    void deviceLost_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<int>("writesBeforeLoss");
        QTest::newRow("during the settle wait") << Operation::WriteAddress << 1;
        QTest::newRow("while the reply is awaited") << Operation::ReadParity << 1;
        QTest::newRow("while the read-back's reply is awaited") << Operation::WriteParity << 2;
    }
    void deviceLost() {
        QFETCH(Operation, operation);
        QFETCH(int, writesBeforeLoss);
        Rig rig;
        QVERIFY(rig.programmer.start(operation, 1));
        QVERIFY(rig.waitWrites(writesBeforeLoss));
        rig.channel.close();
        emit rig.channel.lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        rig.checkEnded();
        QCOMPARE(rig.outcomes.first().kind, Outcome::Kind::ChannelLost);
        QCOMPARE(rig.outcomes.first().detail,
                 QStringLiteral("COM 1 (/dev/x): the device was removed."));
        QTest::qWait(kSettleMs + kReplyMs + 20);
        QCOMPARE(rig.channel.writes.size(), writesBeforeLoss);
        QCOMPARE(rig.outcomes.size(), 1);
    }

    void destroyingEndsTheOperation() {
        FakeChannel channel;
        auto programmer = std::make_unique<RegisterProgrammer>(channel, kShort);
        QVERIFY(programmer->write(Register::Address, 4));
        programmer.reset();
        QVERIFY(!channel.isOpen());
        QTest::qWait(kSettleMs + 20);
        QCOMPARE(channel.writes.size(), 1);
    }
};

// The page on a form of its own with the frame's controls.
class RegisterPageTest : public QObject {
    Q_OBJECT

    struct Form {
        QWidget root;
        QLineEdit* address = add<QLineEdit>("Text5");
        QPushButton* readAddress = add<QPushButton>("Command16");
        QPushButton* writeAddress = add<QPushButton>("Command17");
        QLineEdit* parity = add<QLineEdit>("Text7");
        QPushButton* readParity = add<QPushButton>("Command18");
        QPushButton* writeParity = add<QPushButton>("Command19");
        QLabel* status = add<QLabel>("Label17");
        FakeChannel channel;
        test::RecordingMessenger messages;
        std::unique_ptr<RegisterPage> page;

        template <typename T> T* add(const char* name) {
            auto* w = new T(&root);
            w->setObjectName(QLatin1String(name));
            return w;
        }
        Form() {
            address->setMaxLength(3);
            parity->setMaxLength(1);
            StationContext ctx;
            ctx.messenger = &messages;
            page = std::make_unique<RegisterPage>(ctx, &root, channel, kShort);
            root.show();
        }
        QList<QPushButton*> buttons() const {
            return {readAddress, writeAddress, readParity, writeParity};
        }
    };

private slots:
    // Typing into the boxes, one key at a time: what each box holds after
    // each key.
    void entryFilters_data() {
        QTest::addColumn<bool>("parityBox");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("after"); // the box after each key
        QTest::newRow("address 2, 5, 6") << false << "256" << QStringList{"2", "25", ""};
        QTest::newRow("address 2, 5, 5") << false << "255" << QStringList{"2", "25", "255"};
        QTest::newRow("address 2.5") << false << "2.5" << QStringList{"2", "2.", "2.5"};
        QTest::newRow("address lowercase a") << false << "1a" << QStringList{"1", ""};
        QTest::newRow("address capital A") << false << "A" << QStringList{"A"};
        QTest::newRow("address minus one") << false << "-1" << QStringList{"-", ""};
        QTest::newRow("address hexadecimal") << false << "&HF" << QStringList{"&", "&H", "&HF"};
        QTest::newRow("parity 2") << true << "2" << QStringList{""};
        QTest::newRow("parity 3") << true << "3" << QStringList{"3"};
        QTest::newRow("parity 0") << true << "0" << QStringList{"0"};
        QTest::newRow("parity 4") << true << "4" << QStringList{""};
        QTest::newRow("parity lowercase a") << true << "a" << QStringList{""};
        QTest::newRow("parity capital B") << true << "B" << QStringList{"B"};
    }
    void entryFilters() {
        QFETCH(bool, parityBox);
        QFETCH(QString, keys);
        QFETCH(QStringList, after);
        Form f;
        QLineEdit* box = parityBox ? f.parity : f.address;
        for (int i = 0; i < keys.size(); ++i) {
            f.status->setText(QStringLiteral("Address is 7"));
            QTest::keyClick(box, keys.at(i).toLatin1());
            QCOMPARE(box->text(), after.at(i));
            // Every edit clears the last outcome.
            QCOMPARE(f.status->text(), QString());
        }
    }

    // Which button does what, with the value taken from its box.
    void buttons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("Command16 reads the address")
            << "Command16"
            << "9"
            << "1" << bytes({0x24, 0}) << bytes({7}) << QStringLiteral("Address is 7");
        QTest::newRow("Command17 writes Text5")
            << "Command17"
            << "12"
            << "1" << bytes({0x23, 0, 12}) << bytes({12})
            << QStringLiteral("Operation done. The new address is 12");
        QTest::newRow("Command17 with Text5 empty writes 0")
            << "Command17"
            << ""
            << "1" << bytes({0x23, 0, 0}) << bytes({0})
            << QStringLiteral("Operation done. The new address is 0");
        QTest::newRow("Command17 with 2.5")
            << "Command17"
            << "2.5"
            << "1" << bytes({0x23, 0, 2}) << bytes({2})
            << QStringLiteral("Operation failed. Check the settings!");
        QTest::newRow("Command18 reads the parity")
            << "Command18"
            << "9"
            << "1" << bytes({0x24, 3}) << bytes({3}) << QStringLiteral("Parity is 3");
        QTest::newRow("Command19 writes Text7")
            << "Command19"
            << "9"
            << "3" << bytes({0x23, 3, 3}) << bytes({3})
            << QStringLiteral("Operation done. The new parity is 3");
    }
    void buttons() {
        QFETCH(QString, button);
        QFETCH(QString, address);
        QFETCH(QString, parity);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        Form f;
        f.address->setText(address);
        f.parity->setText(parity);
        f.status->setText(QStringLiteral("old outcome"));
        QTest::mouseClick(f.root.findChild<QPushButton*>(button), Qt::LeftButton);
        QCOMPARE(f.status->text(), QString());
        QCOMPARE(f.channel.writes.value(0), request);
        // While it runs, no button can start another operation.
        for (QPushButton* b : f.buttons()) {
            QVERIFY(!b->isEnabled());
            QTest::mouseClick(b, Qt::LeftButton);
        }
        QCOMPARE(f.channel.opens, 1);
        QTRY_VERIFY_WITH_TIMEOUT(f.channel.writes.size() == (request.at(0) == '#' ? 2 : 1), 2000);
        f.channel.inject(reply);
        QCOMPARE(f.status->text(), status);
        QVERIFY(!f.channel.isOpen());
        for (QPushButton* b : f.buttons())
            QVERIFY(b->isEnabled());
        QVERIFY(f.messages.errors.isEmpty());
    }

    // No module: the failure after the reply timeout, the buttons usable.
    void noReply() {
        Form f;
        QTest::mouseClick(f.readParity, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.status->text(),
                                  QStringLiteral("Operation failed. Check the settings!"), 2000);
        QVERIFY(!f.channel.isOpen());
        QVERIFY(f.writeAddress->isEnabled());
    }

    // A port that cannot be opened: the failure in the status line and the
    // reason, naming the port, in a message; the buttons stay usable.
    void openFailure() {
        Form f;
        f.channel.failOpen = true;
        QTest::mouseClick(f.writeAddress, Qt::LeftButton);
        QCOMPARE(f.status->text(), QStringLiteral("Operation failed. Check the settings!"));
        QCOMPARE(f.messages.errors, QStringList{f.channel.failReason});
        for (QPushButton* b : f.buttons())
            QVERIFY(b->isEnabled());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        RegisterProgrammingTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        RegisterPageTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "test_register_programming.moc"
