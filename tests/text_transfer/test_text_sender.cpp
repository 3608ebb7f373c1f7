#include "link/one_shot.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_sender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;

namespace {

// A fake channel that also notes when each write was handed over (ns).
class TimedChannel : public test::FakeChannel {
public:
    TimedChannel() { clock.start(); }
    bool write(const QByteArray& bytes) override {
        if (!FakeChannel::write(bytes))
            return false;
        at.append(clock.nsecsElapsed());
        return true;
    }
    QString hex() const {
        QStringList parts;
        for (const QByteArray& w : writes)
            parts.append(QString::fromLatin1(w.toHex()));
        return parts.join(QLatin1Char('|'));
    }
    QElapsedTimer clock;
    QList<qint64> at;
};

constexpr qint64 kMs = 1000000;
const QString kSent = QStringLiteral("busy waiting restored idle done");
const QString kStopped = QStringLiteral("busy waiting restored idle failed stopped");

} // namespace

class TextSenderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<TimedChannel> ch_;
    bool master_ = false;
    int address_ = 0;
    int pacing_ = 20;
    std::unique_ptr<TextSender> sender_;
    QStringList log_; // every signal of the sender, in order
    QString error_;

    QString file(const QByteArray& bytes) {
        QFile f(dir_.filePath(QStringLiteral("f.txt")));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return f.fileName();
    }
    QString log() const { return log_.join(QLatin1Char(' ')); }

private slots:
    void init() {
        ch_ = std::make_unique<TimedChannel>();
        master_ = false;
        address_ = 0;
        pacing_ = 20;
        log_.clear();
        sender_ = std::make_unique<TextSender>(
            *ch_, [this] { return master_; }, [this] { return address_; },
            [this] { return pacing_; });
        TextSender* s = sender_.get();
        connect(s, &TextSender::busyChanged, this,
                [this](bool busy) { log_.append(busy ? "busy" : "idle"); });
        connect(s, &TextSender::captionChanged, this, [this](const QString& c) {
            log_.append(c == QLatin1String(kWaitingCaption)    ? "waiting"
                        : c == QLatin1String(kSendIdleCaption) ? "restored"
                                                               : c);
        });
        connect(s, &TextSender::failed, this, [this](const QString& e) {
            log_.append("failed");
            error_ = e;
        });
        connect(s, &TextSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
    }
    void cleanup() { sender_.reset(); }

    void wireBytes_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<QString>("writes");
        QTest::newRow("slave") << QByteArray("AB\r\nC\r\n") << -1 << "41420d0a|430d0a";
        QTest::newRow("master 5") << QByteArray("AB\r\nC\r\n") << 5 << "0541420d0a|05430d0a";
        QTest::newRow("empty line, slave") << QByteArray("\r\n") << -1 << "0d0a";
        QTest::newRow("empty line, master") << QByteArray("\r\n") << 9 << "090d0a";
        QTest::newRow("empty file") << QByteArray() << 5 << "";
        QTest::newRow("LF-only file") << QByteArray("A\nB\n") << -1 << "410a420a0d0a";
        QTest::newRow("no final break") << QByteArray("AB\r\nC") << -1 << "41420d0a|430d0a";
        QTest::newRow("address 0") << QByteArray("A\r\rB") << 0 << "00410d0a|000d0a|00420d0a";
        QTest::newRow("bytes 80-FF")
            << QByteArray("\x80\xe9\xff\r\n\xc3\xa9") << 200 << "c880e9ff0d0a|c8c3a90d0a";
    }
    void wireBytes() {
        QFETCH(QByteArray, file);
        QFETCH(int, address);
        QFETCH(QString, writes);
        master_ = address >= 0;
        address_ = address;
        QVERIFY(sender_->send(this->file(file)));
        QTRY_COMPARE_WITH_TIMEOUT(log(), kSent, 5000);
        QCOMPARE(ch_->hex(), writes);
        for (int i = 1; i < ch_->at.size(); ++i)
            QVERIFY(ch_->at[i] - ch_->at[i - 1] >= pacing_ * kMs);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes, ch_->outputDiscards}), QList<int>({1, 1, 1}));
    }

    void sendIsAChainOfTimer1Steps() {
        pacing_ = 40;
        auto* timer1 = sender_->findChild<OneShot*>(QStringLiteral("Timer1"));
        QVERIFY(sender_->send(file("A\r\nB\r\n")));
        // The first line is out and Timer1 runs; the rest follows its ticks.
        QCOMPARE(ch_->writes.size(), 1);
        QVERIFY(timer1 && timer1->isActive());
        QCOMPARE(timer1->interval(), 40);
        QVERIFY(!sender_->send(file("X\r\n"))); // a second Send is refused
        QTRY_COMPARE_WITH_TIMEOUT(log(), kSent, 5000);
        QCOMPARE(ch_->hex(), QStringLiteral("410d0a|420d0a"));
        // The channel is closed only once the last line's pause is over.
        QVERIFY(ch_->clock.nsecsElapsed() - ch_->at.last() >= 40 * kMs);
        QCOMPARE(ch_->opens, 1);
    }

    void modeAddressAndPacingAreReadForEveryLine() {
        master_ = true;
        address_ = 1;
        pacing_ = 10;
        connect(sender_.get(), &TextSender::lineWritten, this, [this](int index) {
            address_ = 2;
            pacing_ = 80;
            master_ = index == 0;
        });
        QVERIFY(sender_->send(file("a\rb\rc")));
        QTRY_COMPARE_WITH_TIMEOUT(log(), kSent, 5000);
        QCOMPARE(ch_->hex(), QStringLiteral("01610d0a|02620d0a|630d0a"));
        QVERIFY(ch_->at[2] - ch_->at[1] >= 80 * kMs);
    }

    void channelThatCannotOpenChangesNothing() {
        ch_->failOpen = true;
        QVERIFY(!sender_->send(file("A\r\n")));
        QCOMPARE(log(), QStringLiteral("failed"));
        QCOMPARE(error_, ch_->failReason);
        ch_->failOpen = false; // the tab stays usable
        QVERIFY(sender_->send(file("A\r\n")));
    }

    void failureEndsTheSendCleanly_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("message");
        QTest::newRow("file missing") << "missing"
                                      << "gone.txt";
        QTest::newRow("channel lost") << "lost"
                                      << "device was removed";
        QTest::newRow("channel closed") << "closed"
                                        << "no longer open";
    }
    void failureEndsTheSendCleanly() {
        QFETCH(QString, what);
        QFETCH(QString, message);
        QVERIFY(sender_->send(what == "missing" ? dir_.filePath("gone.txt") : file("1\r2\r3\r")));
        const qsizetype written = ch_->writes.size();
        if (what != "missing")
            ch_->close();
        if (what == "lost")
            emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        QTRY_COMPARE(log(), kStopped);
        QVERIFY2(error_.contains(message), qPrintable(error_));
        QVERIFY(!ch_->isOpen());
        QTest::qWait(3 * pacing_);
        QCOMPARE(ch_->writes.size(), written);
    }

    void destroyingTheSenderEndsTheSend() {
        QVERIFY(sender_->send(file("1\r2\r")));
        sender_.reset();
        QVERIFY(!ch_->isOpen());
        QTest::qWait(3 * pacing_);
        QCOMPARE(ch_->writes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TextSenderTest)
#include "test_text_sender.moc"
