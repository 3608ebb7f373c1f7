#include "link/one_shot.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_receiver.h"

#include <QSignalSpy>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;

namespace {
constexpr int kIdleMs = 150;
}

class TextReceiverTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::FakeChannel> ch_;
    std::unique_ptr<TextReceiver> rx_;
    std::unique_ptr<QSignalSpy> busy_;
    bool master_ = false;
    QStringList lines_; // "sender:line in hex"

    OneShot* timer2() const { return rx_->findChild<OneShot*>(QStringLiteral("Timer2")); }
    void inject(const char* hex) { ch_->inject(QByteArray::fromHex(hex)); }
    bool ended() const {
        return rx_->state() == TextReceiver::State::Idle && !ch_->isOpen() &&
               !busy_->last().first().toBool() && !timer2()->isActive();
    }

private slots:
    void init() {
        ch_ = std::make_unique<test::FakeChannel>();
        rx_ = std::make_unique<TextReceiver>(*ch_, [this] { return master_; });
        rx_->setIdleTimeout(kIdleMs);
        busy_ = std::make_unique<QSignalSpy>(rx_.get(), &TextReceiver::busyChanged);
        master_ = false;
        lines_.clear();
        connect(rx_.get(), &TextReceiver::lineReceived, this, [this](const QByteArray& l, int s) {
            lines_.append(QStringLiteral("%1:%2").arg(s).arg(QString::fromLatin1(l.toHex())));
        });
    }
    void cleanup() {
        busy_.reset();
        rx_.reset();
    }

    void receiveDiscardsOldInputAndWaits() {
        QVERIFY(ch_->open());
        ch_->inject("stale\r\n"); // threshold 0: kept, no event
        ch_->close();
        QSignalSpy captions(rx_.get(), &TextReceiver::captionChanged);
        QVERIFY(rx_->receive());
        QVERIFY(ch_->isOpen() && ch_->input.isEmpty());
        QCOMPARE(ch_->receiveThreshold(), 1);
        QCOMPARE(busy_->size(), 1);
        QCOMPARE(captions.first().first().toString(), QLatin1String(kWaitingCaption));
        QVERIFY(!rx_->receive());
        // No timeout before the first byte, not even for an empty event.
        emit ch_->received();
        QTest::qWait(2 * kIdleMs);
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        QVERIFY(lines_.isEmpty());
    }

    void linesAndSenders_data() {
        QTest::addColumn<bool>("master");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QStringList>("expected");
        using P = QByteArrayList;
        QTest::newRow("slave") << false << P{"41420d0a"} << QStringList{"0:41420d"};
        QTest::newRow("master") << true << P{"0741420d0a"} << QStringList{"7:41420d"};
        QTest::newRow("line in pieces")
            << false << P{"41", "420d", "0a"} << QStringList{"0:41420d"};
        QTest::newRow("address alone") << true << P{"07", "410d0a"} << QStringList{"7:410d"};
        QTest::newRow("several in one batch")
            << true << P{"01410d0a02420d0a0343"} << QStringList{"1:410d", "2:420d"};
        QTest::newRow("sender 10 (LF)")
            << true << P{"0a410d0a", "0a0d0a"} << QStringList{"10:410d", "10:0d"};
        QTest::newRow("empty lines") << false << P{"0d0a0a"} << QStringList{"0:0d", "0:"};
        QTest::newRow("bytes 80-FF") << true << P{"c880e9ff0d0a"} << QStringList{"200:80e9ff0d"};
    }
    void linesAndSenders() {
        QFETCH(bool, master);
        QFETCH(QByteArrayList, pieces);
        QFETCH(QStringList, expected);
        master_ = master;
        QVERIFY(rx_->receive());
        for (const QByteArray& piece : pieces)
            inject(piece.constData());
        QCOMPARE(lines_, expected);
        QCOMPARE(rx_->state(), TextReceiver::State::Receiving);
    }

    void everyByteRestartsTheIdleTimeout() {
        QSignalSpy captions(rx_.get(), &TextReceiver::captionChanged);
        QVERIFY(rx_->receive());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 4 * kIdleMs) { // bytes of one long line
            ch_->inject("x");
            QTest::qWait(kIdleMs / 3);
            QCOMPARE(rx_->state(), TextReceiver::State::Receiving);
        }
        QVERIFY(lines_.isEmpty());
        // Silence ends it, and the unfinished line is shown, not lost.
        QTRY_VERIFY_WITH_TIMEOUT(ended(), 5000);
        QCOMPARE(lines_.size(), 1);
        QVERIFY(lines_.first().startsWith(QLatin1String("0:7878")));
        QCOMPARE(captions.last().first().toString(), QLatin1String(kReceiveIdleCaption));
    }

    void partialMasterLineAtTimeout_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("last");
        QTest::newRow("text") << QByteArray("03410d0a03484a") << "3:484a";
        QTest::newRow("address only") << QByteArray("03410d0a04") << "4:";
    }
    void partialMasterLineAtTimeout() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, last);
        master_ = true;
        QVERIFY(rx_->receive());
        inject(bytes.constData());
        QTRY_VERIFY_WITH_TIMEOUT(ended(), 5000);
        QCOMPARE(lines_, (QStringList{"3:410d", last}));
    }

    void breakEndsTheReceptionForGood() {
        QVERIFY(rx_->receive());
        ch_->inject("AB\r\nhal");
        rx_->stop();
        QVERIFY(ended());
        QCOMPARE(lines_, (QStringList{"0:41420d", "0:68616c"}));
        // A new reception right away is neither ended by the old timeout nor
        // given what was left of the old one.
        QVERIFY(rx_->receive());
        QTest::qWait(3 * kIdleMs);
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        ch_->inject("B\r\n");
        QCOMPARE(lines_.last(), QStringLiteral("0:420d"));
        rx_->stop();
        rx_->stop();
        QCOMPARE(ch_->closes, 2);
        QCOMPARE(busy_->size(), 4);
    }

    void breakFromALineHandlerEndsOnce() {
        connect(rx_.get(), &TextReceiver::lineReceived, rx_.get(), &TextReceiver::stop);
        QVERIFY(rx_->receive());
        ch_->inject("A\r\nB\r\nC");
        QCOMPARE(lines_, QStringList{"0:410d"});
        QVERIFY(ended());
        QCOMPARE(busy_->size(), 2);
        QCOMPARE(ch_->closes, 1);
    }

    void failuresEndCleanly() {
        ch_->failOpen = true;
        QSignalSpy failed(rx_.get(), &TextReceiver::failed);
        QVERIFY(!rx_->receive());
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), ch_->failReason);
        QCOMPARE(busy_->size(), 2); // locked and given back
        QVERIFY(ended());

        ch_->failOpen = false;
        QVERIFY(rx_->receive());
        ch_->inject("par");
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        QVERIFY(ended());
        QCOMPARE(lines_, QStringList{"0:706172"});
        QVERIFY(failed.last().first().toString().contains(QLatin1String("device was removed")));

        QVERIFY(rx_->receive());
        rx_.reset(); // destroying the receiver ends the reception
        QVERIFY(!ch_->isOpen());
    }
};

QTEST_GUILESS_MAIN(TextReceiverTest)
#include "test_text_receiver.moc"
