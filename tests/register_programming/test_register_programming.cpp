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
#include <QtTest>

using namespace rava;
using namespace rava::registers;
using K = rava::registers::Outcome::Kind;

Q_DECLARE_METATYPE(rava::registers::Operation)
Q_DECLARE_METATYPE(rava::registers::Outcome::Kind)

namespace {

constexpr int kSettleMs = 60;
constexpr int kReplyMs = 60;
const RegisterProgrammer::Timings kShort{kSettleMs, kReplyMs};
const QString kFailed = QStringLiteral("Operation failed. Check the settings!");

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// A programmer on a fake channel with its outcomes recorded.
struct Rig {
    test::FakeChannel channel;
    RegisterProgrammer programmer{channel, kShort};
    QList<Outcome> outcomes;
    QList<bool> openAtOutcome;

    Rig() {
        QObject::connect(&programmer, &RegisterProgrammer::finished, &programmer,
                         [this](const Outcome& o) {
                             outcomes << o;
                             openAtOutcome << channel.isOpen();
                         });
    }
    bool waitWrites(int count) {
        return QTest::qWaitFor([&] { return channel.writes.size() >= count; }, 2000);
    }
    bool waitOutcome() {
        return QTest::qWaitFor([&] { return !outcomes.isEmpty(); }, 2000);
    }
    // One outcome, told after the channel was closed, and nothing left open.
    void checkEnded(int refusedOpens = 0) const {
        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(openAtOutcome, QList<bool>{false});
        QCOMPARE(channel.closes, channel.opens - refusedOpens);
        QCOMPARE(programmer.state(), RegisterProgrammer::State::Idle);
    }
};

} // namespace

class RegisterProgrammingTest : public QObject {
    Q_OBJECT

private slots:
    // Each operation from request to outcome: the writes and the status.
    void operations_data() {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<double>("requested");
        QTest::addColumn<QByteArray>("reply"); // empty: the module stays silent
        QTest::addColumn<QList<QByteArray>>("wire");
        QTest::addColumn<Outcome::Kind>("kind");
        QTest::addColumn<QString>("status");
        const QByteArray readA = bytes({0x24, 0}), readP = bytes({0x24, 3});
        QTest::newRow("read address") << Operation::ReadAddress << 0.0 << bytes({7})
                                      << QList<QByteArray>{readA} << K::Value << "Address is 7";
        QTest::newRow("read parity, several bytes: the first counts")
            << Operation::ReadParity << 0.0 << bytes({3, 9, 0x24}) << QList<QByteArray>{readP}
            << K::Value << "Parity is 3";
        QTest::newRow("write address 200") << Operation::WriteAddress << 200.0 << bytes({200})
                                           << QList<QByteArray>{bytes({0x23, 0, 200}), readA}
                                           << K::Done << "Operation done. The new address is 200";
        QTest::newRow("write parity 3") << Operation::WriteParity << 3.0 << bytes({3})
                                        << QList<QByteArray>{bytes({0x23, 3, 3}), readP} << K::Done
                                        << "Operation done. The new parity is 3";
        QTest::newRow("write 2.5: writes 2, compares 2.5")
            << Operation::WriteAddress << 2.5 << bytes({2})
            << QList<QByteArray>{bytes({0x23, 0, 2}), readA} << K::Mismatch << kFailed;
        QTest::newRow("write, no module")
            << Operation::WriteParity << 1.0 << QByteArray()
            << QList<QByteArray>{bytes({0x23, 3, 1}), readP} << K::NoReply << kFailed;
        QTest::newRow("address 255.5 (rounds to 256)")
            << Operation::WriteAddress << 255.5 << QByteArray() << QList<QByteArray>{}
            << K::OutOfRange << "Address out of range!";
        QTest::newRow("parity 300")
            << Operation::WriteParity << 300.0 << QByteArray() << QList<QByteArray>{}
            << K::OutOfRange << "Parity out of range!";
    }
    void operations() {
        QFETCH(Operation, operation);
        QFETCH(double, requested);
        QFETCH(QByteArray, reply);
        QFETCH(QList<QByteArray>, wire);
        QFETCH(Outcome::Kind, kind);
        QFETCH(QString, status);
        Rig rig;
        QVERIFY(rig.programmer.start(operation, requested));
        QVERIFY(rig.waitWrites(wire.size()));
        if (!reply.isEmpty())
            rig.channel.inject(reply);
        QVERIFY(rig.waitOutcome());
        rig.checkEnded();
        QCOMPARE(rig.channel.writes, wire);
        QCOMPARE(rig.channel.opens, wire.isEmpty() ? 0 : 1);
        QCOMPARE(rig.outcomes.first().kind, kind);
        QCOMPARE(statusText(rig.outcomes.first()), status);
    }

    // The read-back leaves no earlier than the settle wait after the write;
    // the failure no earlier than the reply timeout after it. A byte during
    // the settle wait is noise, never the reply, even one equal to the value.
    void waitsAndSettleNoise() {
        Rig rig;
        QElapsedTimer clock;
        qint64 readBackAt = -1, endedAt = -1;
        QObject::connect(&rig.programmer, &RegisterProgrammer::finished, &rig.programmer,
                         [&] { endedAt = clock.elapsed(); });
        QObject::connect(&rig.programmer, &RegisterProgrammer::stateChanged, &rig.programmer,
                         [&](RegisterProgrammer::State s) {
                             if (s == RegisterProgrammer::State::AwaitingReply)
                                 readBackAt = clock.elapsed();
                         });
        clock.start();
        QVERIFY(rig.programmer.write(Register::Address, 5));
        rig.channel.inject(bytes({5}));
        QCOMPARE(rig.programmer.state(), RegisterProgrammer::State::Settling);
        QVERIFY(rig.waitWrites(2));
        QVERIFY2(readBackAt >= kSettleMs, qPrintable(QString::number(readBackAt)));
        QCOMPARE(rig.channel.bytesWaiting(), 0);
        QVERIFY(rig.waitOutcome());
        QVERIFY2(endedAt - readBackAt >= kReplyMs, qPrintable(QString::number(endedAt)));
        rig.checkEnded();
        QCOMPARE(rig.outcomes.first().kind, K::NoReply);
    }

    // A second request while one is pending is ignored, in either wait.
    void secondRequestWhilePending() {
        Rig rig;
        QVERIFY(rig.programmer.start(Operation::WriteAddress, 1));
        QVERIFY(!rig.programmer.start(Operation::ReadParity));
        QVERIFY(rig.waitWrites(2));
        QVERIFY(!rig.programmer.start(Operation::ReadParity));
        rig.channel.inject(bytes({1}));
        QVERIFY(rig.waitOutcome());
        rig.checkEnded();
        QCOMPARE(rig.channel.opens, 1);
        QVERIFY(rig.programmer.start(Operation::ReadParity));
        QCOMPARE(rig.channel.opens, 2);
    }

    // A port that cannot be opened ends at once with its reason; the device
    // going away during the settle wait ends it with no late read-back.
    void openFailureAndLoss() {
        Rig refused;
        refused.channel.failOpen = true;
        QVERIFY(refused.programmer.write(Register::Parity, 3));
        refused.checkEnded(1);
        QCOMPARE(refused.outcomes.first().kind, K::OpenFailed);
        QCOMPARE(refused.outcomes.first().detail, refused.channel.failReason);
        Rig lost;
        QVERIFY(lost.programmer.write(Register::Address, 1));
        lost.channel.close();
        emit lost.channel.lost(QStringLiteral("COM 1: the device was removed."));
        lost.checkEnded();
        QCOMPARE(lost.outcomes.first().kind, K::ChannelLost);
        QTest::qWait(kSettleMs + kReplyMs + 20);
        QCOMPARE(lost.channel.writes.size(), 1);
        QCOMPARE(lost.outcomes.size(), 1);
    }
};

// The page on a form of its own with the frame's controls.
class RegisterPageTest : public QObject {
    Q_OBJECT

    struct Form {
        QWidget root;
        QLineEdit* address = add<QLineEdit>("Text5");
        QLineEdit* parity = add<QLineEdit>("Text7");
        QLabel* status = add<QLabel>("Label17");
        QList<QPushButton*> buttons{add<QPushButton>("Command16"), add<QPushButton>("Command17"),
                                    add<QPushButton>("Command18"), add<QPushButton>("Command19")};
        test::FakeChannel channel;
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
    };

private slots:
    // What each box holds after each key; every edit clears the outcome.
    void entryFilters_data() {
        QTest::addColumn<bool>("parityBox");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("address 2, 5, 6") << false << "256" << QStringList{"2", "25", ""};
        QTest::newRow("address 2, 5, 5") << false << "255" << QStringList{"2", "25", "255"};
        QTest::newRow("address lowercase a") << false << "1a" << QStringList{"1", ""};
        QTest::newRow("parity 2") << true << "2" << QStringList{""};
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
            QCOMPARE(f.status->text(), QString());
        }
    }

    // Write takes its value from the box; while it runs no button can
    // start another operation.
    void buttons() {
        Form f;
        f.address->setText(QStringLiteral("12"));
        QTest::mouseClick(f.buttons[1], Qt::LeftButton);
        QCOMPARE(f.channel.writes, QList<QByteArray>{bytes({0x23, 0, 12})});
        for (QPushButton* b : f.buttons) {
            QVERIFY(!b->isEnabled());
            QTest::mouseClick(b, Qt::LeftButton);
        }
        QTRY_COMPARE(f.channel.writes.size(), 2);
        QCOMPARE(f.channel.opens, 1);
        f.channel.inject(bytes({12}));
        QCOMPARE(f.status->text(), QStringLiteral("Operation done. The new address is 12"));
        for (QPushButton* b : f.buttons)
            QVERIFY(b->isEnabled());
    }

    // A port that cannot be opened: the failure and the reason in a box.
    void openFailure() {
        Form f;
        f.channel.failOpen = true;
        QTest::mouseClick(f.buttons[1], Qt::LeftButton);
        QCOMPARE(f.status->text(), kFailed);
        QCOMPARE(f.messages.errors, QStringList{f.channel.failReason});
        QVERIFY(f.buttons[1]->isEnabled());
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    RegisterProgrammingTest logic;
    RegisterPageTest page;
    return QTest::qExec(&logic, argc, argv) | QTest::qExec(&page, argc, argv);
}

#include "test_register_programming.moc"
