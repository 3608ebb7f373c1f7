#include "link/one_shot.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_sender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;
using rava::test::FakeChannel;

namespace {

// A fake channel that also notes when each write was handed over.
class TimedChannel : public FakeChannel {
public:
    TimedChannel() { clock.start(); }
    bool write(const QByteArray& bytes) override {
        const bool ok = FakeChannel::write(bytes);
        if (ok)
            writtenAt.append(clock.nsecsElapsed());
        return ok;
    }
    QElapsedTimer clock;
    QList<qint64> writtenAt; // nanoseconds
};

constexpr int kPacingMs = 20;

QList<QByteArray> hexList(const char* text) {
    QList<QByteArray> list;
    if (QByteArray(text) == "-")
        return list;
    for (const QByteArray& part : QByteArray(text).split('|'))
        list.append(QByteArray::fromHex(part));
    return list;
}

QString hexOf(const QList<QByteArray>& list) {
    QStringList parts;
    for (const QByteArray& b : list)
        parts.append(QString::fromLatin1(b.toHex(' ')));
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class TextSenderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    int files_ = 0;

    QString makeFile(const QByteArray& bytes) {
        const QString path = dir_.filePath(QStringLiteral("f%1.txt").arg(++files_));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        return path;
    }

private slots:
    void wireBytes_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("address");
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::newRow("slave AB, C")
            << QByteArray("AB\r\nC\r\n") << false << 5 << hexList("41420d0a|430d0a");
        QTest::newRow("master 5 AB, C")
            << QByteArray("AB\r\nC\r\n") << true << 5 << hexList("0541420d0a|05430d0a");
        QTest::newRow("slave empty line") << QByteArray("\r\n") << false << 0 << hexList("0d0a");
        QTest::newRow("master empty line") << QByteArray("\r\n") << true << 9 << hexList("090d0a");
        QTest::newRow("LF-only file is one write")
            << QByteArray("A\nB\nC\n") << false << 0 << hexList("410a420a430a0d0a");
        QTest::newRow("no final line break")
            << QByteArray("AB\r\nC") << false << 0 << hexList("41420d0a|430d0a");
        QTest::newRow("master address 0")
            << QByteArray("A\r\n\r\nB") << true << 0 << hexList("00410d0a|000d0a|00420d0a");
        QTest::newRow("high bytes unchanged") << QByteArray::fromHex("80e9ff0d0ac3a9") << true
                                              << 200 << hexList("c880e9ff0d0a|c8c3a90d0a");
    }
    void wireBytes() {
        QFETCH(QByteArray, file);
        QFETCH(bool, master);
        QFETCH(int, address);
        QFETCH(QList<QByteArray>, writes);

        TimedChannel ch;
        TextSender sender(
            ch, [=] { return master; }, [=] { return address; }, [] { return kPacingMs; });
        QSignalSpy finished(&sender, &TextSender::finished);
        QVERIFY(sender.send(makeFile(file)));
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(hexOf(ch.writes), hexOf(writes));
        // Consecutive lines are never closer than the pacing interval.
        for (int i = 1; i < ch.writtenAt.size(); ++i)
            QVERIFY2(ch.writtenAt[i] - ch.writtenAt[i - 1] >= kPacingMs * 1000000LL,
                     qPrintable(QString::number(ch.writtenAt[i] - ch.writtenAt[i - 1])));
        QCOMPARE(ch.opens, 1);
        QCOMPARE(ch.closes, 1);
        QCOMPARE(ch.outputDiscards, 1);
        QVERIFY(!ch.isOpen());
    }

    void sendRunsOnTimerStepsAndEndsAfterLastPause() {
        TimedChannel ch;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return 40; });
        QSignalSpy busy(&sender, &TextSender::busyChanged);
        QSignalSpy captions(&sender, &TextSender::captionChanged);
        QSignalSpy finished(&sender, &TextSender::finished);
        auto* timer1 = sender.findChild<OneShot*>(QStringLiteral("Timer1"));
        QVERIFY(timer1);

        QVERIFY(sender.send(makeFile("AB\r\nC\r\n")));
        // send() hands over the first line and returns; the rest follows on
        // Timer1's ticks.
        QCOMPARE(ch.writes.size(), 1);
        QCOMPARE(sender.state(), TextSender::State::Pacing);
        QVERIFY(timer1->isActive());
        QCOMPARE(timer1->interval(), 40);
        QCOMPARE(busy.size(), 1);
        QCOMPARE(busy.first().first().toBool(), true);
        QCOMPARE(captions.size(), 1);
        QCOMPARE(captions.first().first().toString(), QString::fromLatin1(kWaitingCaption));
        QVERIFY(ch.isOpen());

        QVERIFY(finished.wait(5000));
        const qint64 end = ch.clock.nsecsElapsed();
        QCOMPARE(ch.writes.size(), 2);
        // The channel closes only after the last line's pause.
        QVERIFY(end - ch.writtenAt.last() >= 40 * 1000000LL);
        QCOMPARE(sender.state(), TextSender::State::Idle);
        QVERIFY(!timer1->isActive());
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(captions.last().first().toString(), QString::fromLatin1(kSendIdleCaption));
    }

    void emptyFileOpensClosesAndWritesNothing() {
        FakeChannel ch;
        TextSender sender(
            ch, [] { return true; }, [] { return 3; }, [] { return kPacingMs; });
        QSignalSpy busy(&sender, &TextSender::busyChanged);
        QSignalSpy captions(&sender, &TextSender::captionChanged);
        QSignalSpy finished(&sender, &TextSender::finished);
        QSignalSpy failed(&sender, &TextSender::failed);
        QVERIFY(sender.send(makeFile("")));
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(ch.writes.isEmpty());
        QCOMPARE(ch.opens, 1);
        QCOMPARE(ch.closes, 1);
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy[0][0].toBool(), true);
        QCOMPARE(busy[1][0].toBool(), false);
        QCOMPARE(captions.size(), 2);
        QCOMPARE(captions[0][0].toString(), QString::fromLatin1(kWaitingCaption));
        QCOMPARE(captions[1][0].toString(), QString::fromLatin1(kSendIdleCaption));
        QVERIFY(failed.isEmpty());
    }

    void modeAddressAndPacingAreReadForEveryLine() {
        TimedChannel ch;
        bool master = true;
        int address = 1;
        int pacing = 10;
        TextSender sender(
            ch, [&] { return master; }, [&] { return address; }, [&] { return pacing; });
        // After each line the station settings change before the next one.
        connect(&sender, &TextSender::lineWritten, this, [&](int index) {
            if (index == 0) {
                address = 2;
                pacing = 80;
            } else if (index == 1) {
                master = false;
            }
        });
        QSignalSpy finished(&sender, &TextSender::finished);
        QVERIFY(sender.send(makeFile("a\rb\rc")));
        QVERIFY(finished.wait(5000));
        QCOMPARE(hexOf(ch.writes), hexOf(hexList("01610d0a|02620d0a|630d0a")));
        // The pause after line 0 was already armed with 10 ms; the one after
        // line 1 was armed with 80 ms.
        QVERIFY(ch.writtenAt[2] - ch.writtenAt[1] >= 80 * 1000000LL);
    }

    void channelThatCannotOpenChangesNothing() {
        FakeChannel ch;
        ch.failOpen = true;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QSignalSpy busy(&sender, &TextSender::busyChanged);
        QSignalSpy captions(&sender, &TextSender::captionChanged);
        QSignalSpy failed(&sender, &TextSender::failed);
        QSignalSpy finished(&sender, &TextSender::finished);
        const QString path = makeFile("AB\r\n");
        QVERIFY(!sender.send(path));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), ch.failReason);
        QVERIFY(busy.isEmpty());
        QVERIFY(captions.isEmpty());
        QVERIFY(finished.isEmpty());
        QCOMPARE(ch.outputDiscards, 0);
        QCOMPARE(sender.state(), TextSender::State::Idle);

        // Once the port is free the same send works.
        ch.failOpen = false;
        QVERIFY(sender.send(path));
        QVERIFY(finished.wait(5000));
        QCOMPARE(ch.writes.size(), 1);
    }

    void fileThatCannotBeReadEndsCleanly() {
        FakeChannel ch;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QSignalSpy busy(&sender, &TextSender::busyChanged);
        QSignalSpy captions(&sender, &TextSender::captionChanged);
        QSignalSpy failed(&sender, &TextSender::failed);
        QSignalSpy finished(&sender, &TextSender::finished);
        const QString missing = dir_.filePath(QStringLiteral("gone.txt"));
        QVERIFY(sender.send(missing));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(failed.size(), 1);
        QVERIFY2(failed.first().first().toString().contains(QStringLiteral("gone.txt")),
                 qPrintable(failed.first().first().toString()));
        QVERIFY(ch.writes.isEmpty());
        QCOMPARE(ch.opens, 1);
        QCOMPARE(ch.closes, 1);
        QVERIFY(!ch.isOpen());
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(captions.last().first().toString(), QString::fromLatin1(kSendIdleCaption));
        QCOMPARE(sender.state(), TextSender::State::Idle);
    }

    void secondSendWhileRunningIsRefused() {
        FakeChannel ch;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QSignalSpy finished(&sender, &TextSender::finished);
        QVERIFY(sender.send(makeFile("1\r2\r3")));
        QVERIFY(!sender.send(makeFile("X\r")));
        QVERIFY(finished.wait(5000));
        QCOMPARE(ch.opens, 1);
        QCOMPARE(hexOf(ch.writes), hexOf(hexList("310d0a|320d0a|330d0a")));
        QCOMPARE(finished.size(), 1);
    }

    void lostChannelEndsTheSend() {
        FakeChannel ch;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QSignalSpy busy(&sender, &TextSender::busyChanged);
        QSignalSpy failed(&sender, &TextSender::failed);
        QSignalSpy finished(&sender, &TextSender::finished);
        QVERIFY(sender.send(makeFile("1\r2\r3\r")));
        QCOMPARE(ch.writes.size(), 1);
        ch.close(); // the device went away: the channel closes itself and says so
        emit ch.lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(failed.first().first().toString().contains(QStringLiteral("device was removed")));
        QCOMPARE(busy.last().first().toBool(), false);
        QCOMPARE(sender.state(), TextSender::State::Idle);
        QTest::qWait(3 * kPacingMs);
        QCOMPARE(ch.writes.size(), 1);
    }

    void channelClosedBehindItsBackStopsTheSend() {
        FakeChannel ch;
        TextSender sender(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QSignalSpy failed(&sender, &TextSender::failed);
        QSignalSpy finished(&sender, &TextSender::finished);
        QVERIFY(sender.send(makeFile("1\r2\r")));
        ch.close();
        QVERIFY(finished.wait(5000));
        QCOMPARE(ch.writes.size(), 1);
        QCOMPARE(failed.size(), 1);
    }

    void destroyingTheSenderEndsTheSend() {
        FakeChannel ch;
        auto sender = std::make_unique<TextSender>(
            ch, [] { return false; }, [] { return 0; }, [] { return kPacingMs; });
        QVERIFY(sender->send(makeFile("1\r2\r3\r")));
        QVERIFY(ch.isOpen());
        sender.reset();
        QVERIFY(!ch.isOpen());
        QTest::qWait(3 * kPacingMs);
        QCOMPARE(ch.writes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TextSenderTest)
#include "test_text_sender.moc"
