#include "link/one_shot.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_receiver.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;
using rava::test::FakeChannel;

namespace {

constexpr int kIdleMs = 150;

// What the receiver reported: each line as hex with its sender.
struct Lines {
    QStringList seen;
    void attach(TextReceiver& r) {
        QObject::connect(&r, &TextReceiver::lineReceived, [this](const QByteArray& line, int s) {
            seen.append(QStringLiteral("%1:%2").arg(s).arg(QString::fromLatin1(line.toHex())));
        });
    }
};

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

} // namespace

class TextReceiverTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeChannel> ch_;
    bool master_ = false;
    std::unique_ptr<TextReceiver> rx_;
    Lines lines_;

private slots:
    void init() {
        ch_ = std::make_unique<FakeChannel>();
        master_ = false;
        rx_ = std::make_unique<TextReceiver>(*ch_, [this] { return master_; });
        rx_->setIdleTimeout(kIdleMs);
        lines_ = Lines();
        lines_.attach(*rx_);
    }
    void cleanup() {
        rx_.reset();
        ch_.reset();
    }

    void receiveOpensAndWaits() {
        // Input that was waiting before Receive is thrown away.
        QVERIFY(ch_->open());
        ch_->inject("stale\r\n");
        ch_->close();
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        QSignalSpy captions(rx_.get(), &TextReceiver::captionChanged);
        QVERIFY(rx_->receive());
        QVERIFY(ch_->isOpen());
        QCOMPARE(ch_->receiveThreshold(), 1);
        QCOMPARE(ch_->inputDiscards, 1);
        QVERIFY(ch_->input.isEmpty());
        QCOMPARE(busy.size(), 1);
        QCOMPARE(busy.first().first().toBool(), true);
        QCOMPARE(captions.first().first().toString(), QString::fromLatin1(kWaitingCaption));
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        QVERIFY(!rx_->receive()); // already receiving
        QCOMPARE(ch_->opens, 2);  // the one above and Receive's
    }

    void linesAndSenders_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QStringList>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("slave line") << false << L{hex("41420d0a")} << QStringList{"0:41420d"};
        QTest::newRow("master line") << true << L{hex("0741420d0a")} << QStringList{"7:41420d"};
        QTest::newRow("pieces make one line")
            << false << L{hex("41"), hex("42"), hex("0d"), hex("0a")} << QStringList{"0:41420d"};
        QTest::newRow("address arrives alone")
            << true << L{hex("07"), hex("41420d0a")} << QStringList{"7:41420d"};
        QTest::newRow("every line of a batch")
            << false << L{hex("410d0a420d0a430d0a")} << QStringList{"0:410d", "0:420d", "0:430d"};
        QTest::newRow("every line of a master batch")
            << true << L{hex("01410d0a02420d0a")} << QStringList{"1:410d", "2:420d"};
        QTest::newRow("batch ends inside a line")
            << false << L{hex("410d0a42"), hex("0d0a")} << QStringList{"0:410d", "0:420d"};
        QTest::newRow("sender 10 is a line feed")
            << true << L{hex("0a41420d0a")} << QStringList{"10:41420d"};
        QTest::newRow("sender 10, empty line")
            << true << L{hex("0a0d0a"), hex("0a430d0a")} << QStringList{"10:0d", "10:430d"};
        QTest::newRow("empty master line") << true << L{hex("090d0a")} << QStringList{"9:0d"};
        QTest::newRow("empty slave line") << false << L{hex("0d0a")} << QStringList{"0:0d"};
        QTest::newRow("high bytes unchanged")
            << true << L{hex("c880e9ff0d0a")} << QStringList{"200:80e9ff0d"};
        QTest::newRow("bare LF ends a line") << false << L{hex("410a")} << QStringList{"0:41"};
    }
    void linesAndSenders() {
        QFETCH(bool, master);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QStringList, expected);
        master_ = master;
        QVERIFY(rx_->receive());
        for (const QByteArray& piece : pieces)
            ch_->inject(piece);
        QCOMPARE(lines_.seen, expected);
        QCOMPARE(rx_->state(), TextReceiver::State::Receiving);
    }

    void modeIsReadForEachNewLine() {
        master_ = true;
        QVERIFY(rx_->receive());
        ch_->inject(hex("05410d0a"));
        master_ = false;
        ch_->inject(hex("05410d0a"));
        QCOMPARE(lines_.seen, (QStringList{"5:410d", "0:05410d"}));
    }

    void idleTimeoutWaitsForTheFirstByte() {
        QVERIFY(rx_->receive());
        auto* timer2 = rx_->findChild<OneShot*>(QStringLiteral("Timer2"));
        QVERIFY(timer2);
        QVERIFY(!timer2->isActive());
        QTest::qWait(2 * kIdleMs);
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        QVERIFY(ch_->isOpen());
        // A receive event that finds nothing does not count as a byte.
        emit ch_->received();
        QVERIFY(!timer2->isActive());
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
    }

    void idleTimeoutEndsTheReception() {
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        QSignalSpy captions(rx_.get(), &TextReceiver::captionChanged);
        QVERIFY(rx_->receive());
        ch_->inject("AB\r\n");
        QVERIFY(rx_->findChild<OneShot*>(QStringLiteral("Timer2"))->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(rx_->state(), TextReceiver::State::Idle, 5000);
        QVERIFY(!ch_->isOpen());
        QCOMPARE(ch_->closes, 1);
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(captions.last().first().toString(), QString::fromLatin1(kReceiveIdleCaption));
        QCOMPARE(lines_.seen, QStringList{"0:41420d"});
    }

    void everyByteRestartsTheIdleTimeout() {
        QVERIFY(rx_->receive());
        QElapsedTimer clock;
        clock.start();
        // Bytes of one long line, each well inside the timeout of the
        // previous one, for more than three timeouts in all.
        while (clock.elapsed() < 4 * kIdleMs) {
            ch_->inject("x");
            QTest::qWait(kIdleMs / 3);
            QCOMPARE(rx_->state(), TextReceiver::State::Receiving);
        }
        QVERIFY(lines_.seen.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rx_->state(), TextReceiver::State::Idle, 5000);
    }

    void partialLineIsShownAtTheEnd_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("slave") << false << QByteArray("done\r\nhal") << "0:68616c";
        QTest::newRow("master") << true << hex("03410d0a03484a") << "3:484a";
        QTest::newRow("master, address only") << true << hex("03410d0a04") << "4:";
    }
    void partialLineIsShownAtTheEnd() {
        QFETCH(bool, master);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        master_ = master;
        QVERIFY(rx_->receive());
        ch_->inject(bytes);
        QCOMPARE(lines_.seen.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(rx_->state(), TextReceiver::State::Idle, 5000);
        QCOMPARE(lines_.seen.size(), 2);
        QCOMPARE(lines_.seen.last(), expected);
    }

    void breakEndsTheReceptionForGood() {
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        QSignalSpy captions(rx_.get(), &TextReceiver::captionChanged);
        QVERIFY(rx_->receive());
        ch_->inject("AB\r\n");
        rx_->stop();
        QCOMPARE(rx_->state(), TextReceiver::State::Idle);
        QVERIFY(!ch_->isOpen());
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(captions.last().first().toString(), QString::fromLatin1(kReceiveIdleCaption));
        QVERIFY(!rx_->findChild<OneShot*>(QStringLiteral("Timer2"))->isActive());

        // A new reception right away is not ended by the old timeout.
        QVERIFY(rx_->receive());
        const int busyBefore = int(busy.size());
        QTest::qWait(3 * kIdleMs);
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        QVERIFY(ch_->isOpen());
        QCOMPARE(int(busy.size()), busyBefore);
        rx_->stop();
        rx_->stop(); // a second Break changes nothing
        QCOMPARE(ch_->closes, 2);
    }

    void breakKeepsAPartialLine() {
        QVERIFY(rx_->receive());
        ch_->inject("half");
        rx_->stop();
        QCOMPARE(lines_.seen, QStringList{"0:68616c66"});
        // Nothing of it is left over for the next reception.
        QVERIFY(rx_->receive());
        ch_->inject("B\r\n");
        QCOMPARE(lines_.seen.last(), QStringLiteral("0:420d"));
    }

    void openFailureLeavesReceiveUsable() {
        ch_->failOpen = true;
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        QSignalSpy failed(rx_.get(), &TextReceiver::failed);
        QVERIFY(!rx_->receive());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), ch_->failReason);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(rx_->state(), TextReceiver::State::Idle);
        ch_->failOpen = false;
        QVERIFY(rx_->receive());
    }

    void lostChannelEndsTheReception() {
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        QSignalSpy failed(rx_.get(), &TextReceiver::failed);
        QVERIFY(rx_->receive());
        ch_->inject("par");
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        QCOMPARE(rx_->state(), TextReceiver::State::Idle);
        QCOMPARE(lines_.seen, QStringList{"0:706172"});
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.first().first().toString().contains(QStringLiteral("device was removed")));
        QCOMPARE(busy.last().first().toBool(), false);
        QVERIFY(!rx_->findChild<OneShot*>(QStringLiteral("Timer2"))->isActive());
    }

    void breakFromALineHandlerEndsOnce() {
        QSignalSpy busy(rx_.get(), &TextReceiver::busyChanged);
        connect(rx_.get(), &TextReceiver::lineReceived, rx_.get(), &TextReceiver::stop);
        QVERIFY(rx_->receive());
        ch_->inject("A\r\nB\r\nC");
        QCOMPARE(lines_.seen, QStringList{"0:410d"});
        QCOMPARE(rx_->state(), TextReceiver::State::Idle);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(ch_->closes, 1);
        QTest::qWait(2 * kIdleMs);
        QCOMPARE(busy.size(), 2);
    }

    void inputWhileIdleIsLeftAlone() {
        // The channel opened by someone else (a send): nothing is read.
        QVERIFY(ch_->open());
        ch_->setReceiveThreshold(1);
        ch_->inject("X\r\n");
        QCOMPARE(ch_->input, QByteArray("X\r\n"));
        QVERIFY(lines_.seen.isEmpty());
    }

    void destroyingTheReceiverClosesTheChannel() {
        QVERIFY(rx_->receive());
        ch_->inject("A");
        rx_.reset();
        QVERIFY(!ch_->isOpen());
    }
};

QTEST_GUILESS_MAIN(TextReceiverTest)
#include "test_text_receiver.moc"
