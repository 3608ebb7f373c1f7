// The text sender and receiver on an in-memory channel, and the pages that
// wire them to the controls of the two text tabs.
#include "link/messenger.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "main_window/layout.h"
#include "support/fake_channel.h"
#include "support/recording.h"
#include "text_transfer/text_file_loader.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

using namespace rava;
using namespace rava::text;

namespace {

// A fake channel that also notes when each write was handed over (ns).
class TimedChannel : public test::FakeChannel {
public:
    TimedChannel() { clock.start(); }
    bool write(const QByteArray& bytes) override {
        at.append(clock.nsecsElapsed());
        return FakeChannel::write(bytes);
    }
    QElapsedTimer clock;
    QList<qint64> at;
};

constexpr int kIdleMs = 150;
const QString kReceived = QStringLiteral("busy idle");

} // namespace

class TextTransferTest : public QObject, public Messenger {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<TimedChannel> ch_;
    std::unique_ptr<TextSender> sender_;
    std::unique_ptr<TextReceiver> rx_;
    std::unique_ptr<QWidget> form_;
    std::unique_ptr<TextPages> pages_; // its own sender and receiver on ch_
    StationSettings settings_;
    QStringList log_;   // signals, messages and tab locks, in order
    QStringList lines_; // received lines, "sender:line in hex"
    QString error_;     // the last failure signalled
    QString chosen_;    // what the file dialog returns

    void error(const QString& text) override { log_.append(text); }
    void info(const QString&, const QString&) override {}

    QString file(const QByteArray& bytes) {
        return test::writeFile(dir_, QStringLiteral("f.txt"), bytes);
    }
    QString log() const { return log_.join(QLatin1Char(' ')); }
    bool ended() const {
        return rx_->state() == TextReceiver::State::Idle && !ch_->isOpen() &&
               !rx_->findChild<OneShot*>(QStringLiteral("Timer2"))->isActive();
    }
    template <typename T> void watch(T* t) {
        connect(t, &T::busyChanged, this, [this](bool on) { log_.append(on ? "busy" : "idle"); });
        connect(t, &T::failed, this, [this](auto, const QString& detail) {
            log_.append("failed");
            error_ = detail;
        });
    }
    template <typename T = QWidget> T* w(const char* name) {
        return form_->findChild<T*>(QLatin1String(name));
    }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    QString text(const char* name) {
        return w(name)->property(w<QPlainTextEdit>(name) ? "plainText" : "text").toString();
    }
    // The controls of the two text tabs, and the pages on them; master of 4.
    void buildPages() {
        form_ = std::make_unique<QWidget>();
        layout::build(layout::tabPage(Tab::SendText), form_.get());
        layout::build(layout::tabPage(Tab::ReceiveText), form_.get());
        settings_.setMode(Mode::Master);
        settings_.setRemoteAddress(4);
        settings_.setLineSetting(0); // 9600: 90 ms between lines
        StationContext ctx;
        ctx.settings = &settings_;
        ctx.messenger = this;
        ctx.lockTabs = [this](Tab keep, bool on) {
            log_.append(QStringLiteral("%1 %2").arg(on ? "lock" : "unlock").arg(int(keep)));
        };
        ctx.chooseFile = [this](const QString&, const QString&) { return chosen_; };
        pages_ = std::make_unique<TextPages>(ctx, form_.get(), *ch_);
    }

private slots:
    void init() {
        ch_ = std::make_unique<TimedChannel>();
        settings_.setMode(Mode::Slave);
        settings_.setRemoteAddress(0);
        settings_.setLineSetting(kDefaultLineSetting); // 50 ms between lines
        log_.clear();
        lines_.clear();
        sender_ = std::make_unique<TextSender>(*ch_, settings_);
        rx_ = std::make_unique<TextReceiver>(*ch_, settings_);
        rx_->setIdleTimeout(kIdleMs);
        watch(sender_.get());
        watch(rx_.get());
        connect(sender_.get(), &TextSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
        connect(rx_.get(), &TextReceiver::lineReceived, this, [this](const QByteArray& l, int s) {
            lines_.append(QStringLiteral("%1:%2").arg(s).arg(QString::fromLatin1(l.toHex())));
        });
    }
    void cleanup() {
        pages_.reset();
        sender_.reset();
        rx_.reset();
    }

    // Each line leaves as one write ending in CR LF, whatever ended it in
    // the file, behind the remote address on a master; writes are paced.
    void wireBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<QByteArray>("writes");
        QTest::newRow("CR LF slave")
            << QByteArray("AB\r\nC\r\n") << -1 << QByteArray("41420d0a|430d0a");
        QTest::newRow("CR LF master 5")
            << QByteArray("AB\r\nC\r\n") << 5 << QByteArray("0541420d0a|05430d0a");
        QTest::newRow("CR") << QByteArray("AB\rC") << -1 << QByteArray("41420d0a|430d0a");
        QTest::newRow("LF") << QByteArray("A\n\nB\n") << 5
                            << QByteArray("05410d0a|050d0a|05420d0a");
        QTest::newRow("mix") << QByteArray("A\r\nB\rC\nD\n\rE") << -1
                             << QByteArray("410d0a|420d0a|430d0a|440d0a|0d0a|450d0a");
    }
    void wireBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, address);
        QFETCH(QByteArray, writes);
        settings_.setMode(address >= 0 ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        QVERIFY(sender_->send(file(bytes)));
        QTRY_COMPARE(log(), QStringLiteral("busy idle done"));
        QByteArrayList hex;
        for (const QByteArray& write : ch_->writes)
            hex << write.toHex();
        QCOMPARE(hex.join('|'), writes);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({1, 1}));
        for (int i = 1; i < ch_->at.size(); ++i)
            QVERIFY(ch_->at[i] - ch_->at[i - 1] >= settings_.pacingMs() * 1000000LL);
    }

    void sendFailures_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("channel refused") << "refused";
        QTest::newRow("file unreadable") << "Cannot read";
        QTest::newRow("channel lost") << "device was removed";
    }
    void sendFailures() {
        QFETCH(QString, message);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        const bool started = what == "channel lost";
        ch_->failOpen = what == "channel refused";
        QCOMPARE(sender_->send(what == "file unreadable" ? "/proc/self/mem" // opens, reads not
                                                         : file("1\r2\r3\r")),
                 started);
        if (started) {
            ch_->close(); // the device is gone
            emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        }
        QTRY_COMPARE(log(), started ? QStringLiteral("busy idle failed stopped")
                                    : QStringLiteral("failed"));
        QVERIFY2(error_.contains(message), qPrintable(error_));
        QVERIFY(!ch_->isOpen());
        // A file that cannot be read never gets as far as the port.
        QCOMPARE(ch_->opens, what.startsWith("file") ? 0 : 1);
    }

    void receivedLines_data() {
        QTest::addColumn<QString>("pieces"); // in hex, each one a batch of its own
        QTest::addColumn<bool>("master");
        // "sender:line in hex" once all pieces are in, then after "|" the
        // unfinished line shown at the end.
        QTest::addColumn<QString>("lines");
        QTest::newRow("address alone") << "07 410d0a" << true << "7:410d";
        QTest::newRow("several in one batch")
            << "01410d0a02420d0a0343" << true << "1:410d 2:420d|3:43";
        QTest::newRow("sender 10 (LF)") << "0a410d0a 0a0d0a" << true << "10:410d 10:0d";
        QTest::newRow("channel lost") << "410d0a7061" << false << "0:410d|0:7061";
    }
    void receivedLines() {
        QFETCH(QString, pieces);
        QFETCH(bool, master);
        QFETCH(QString, lines);
        const bool lost = QTest::currentDataTag() == QByteArray("channel lost");
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        QVERIFY(ch_->open());
        ch_->inject("stale\r\n"); // from before the reception: dropped
        QVERIFY(rx_->receive());
        for (const QString& piece : pieces.split(QLatin1Char(' ')))
            ch_->inject(QByteArray::fromHex(piece.toLatin1()));
        QCOMPARE(lines_.join(QLatin1Char(' ')), lines.section(QLatin1Char('|'), 0, 0));
        if (lost)
            emit ch_->lost(QStringLiteral("the device was removed."));
        QTRY_VERIFY(ended()); // or by silence
        QCOMPARE(lines_.join(QLatin1Char(' ')), lines.replace(QLatin1Char('|'), QLatin1Char(' ')));
        QCOMPARE(log(), kReceived + (lost ? " failed" : ""));
    }

    void everyByteRestartsTheIdleTimeout() {
        QVERIFY(rx_->receive());
        QTest::qWait(3 * kIdleMs); // no timeout before the first byte
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        QElapsedTimer clock;
        clock.start();
        QString line = QStringLiteral("0:");
        while (clock.elapsed() < 4 * kIdleMs) { // bytes of one long line
            ch_->inject("x");
            line += QStringLiteral("78");
            QTest::qWait(kIdleMs / 3);
        }
        // Silence ends it, the unfinished line shown; none of it came earlier.
        QTRY_VERIFY(ended());
        QCOMPARE(lines_, QStringList{line});
    }

    void breakEndsTheReceptionForGood() {
        // A Break from a line's receiver drops what follows.
        connect(rx_.get(), &TextReceiver::lineReceived, rx_.get(), &TextReceiver::stop);
        QVERIFY(rx_->receive());
        QVERIFY(!rx_->receive());
        ch_->inject("C\r\nD\r\nE");
        QVERIFY(ended());
        QCOMPARE(lines_, QStringList{"0:430d"});
        QCOMPARE(log(), kReceived);
    }

    // A file that loads in many steps is sent as it was shown, even when it
    // changed meanwhile; a failed Open... leaves nothing to send, a refused
    // one leaves the file loaded before.
    void pagesOpenSendAndClear() {
        buildPages();
        chosen_ = dir_.filePath(QStringLiteral("vanished.txt"));
        click("Command3");
        QVERIFY(log_.takeLast().contains(QStringLiteral("vanished.txt")));
        QVERIFY(!w("Command4")->isEnabled());
        pages_->findChild<FileLoader*>()->setStepBytes(16);
        QByteArray bytes, expected;
        for (int i = 0; i < 40; ++i) {
            bytes += "line " + QByteArray::number(i) + (i % 3 ? "\n" : "\r\n");
            expected += "\x04line " + QByteArray::number(i) + "\r\n";
        }
        chosen_ = file(bytes);
        int edits = 0;
        connect(w<QPlainTextEdit>("Text1")->document(), &QTextDocument::contentsChange, this,
                [&] { ++edits; });
        click("Command3");
        QVERIFY(!w("Command4")->isEnabled()); // until the whole file is in the box
        QTRY_VERIFY(w("Command4")->isEnabled());
        QVERIFY(edits > 10);
        // Open... of a named pipe returns at once with a message, the box as it was.
        chosen_ = dir_.filePath(QStringLiteral("pipe.txt"));
        QVERIFY(::mkfifo(QFile::encodeName(chosen_).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        click("Command3");
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY2(log_.takeLast().contains(QStringLiteral("it is a named pipe, not a text file")),
                 qPrintable(log_.join('|')));
        QCOMPARE(text("Text1"), QString::fromLatin1(bytes).replace("\r\n", "\n"));
        file("changed\r\n");
        ch_->failOpen = true;
        click("Command4");
        ch_->failOpen = false;
        click("Command4");
        QCOMPARE(text("Label8"), QStringLiteral("Waiting, please..."));
        QVERIFY(!w("Command3")->isEnabled() && !w("Command4")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(log_, (QStringList{ch_->failReason, "lock 1", "unlock 1"}),
                                  20000);
        QCOMPARE(ch_->allWritten(), expected);
        click("Command9");
        QCOMPARE(text("Text1"), QString());
        QVERIFY(!w("Command4")->isEnabled());
    }

    // A device that goes away is named in the user's words, with how far
    // the send or the reception got.
    void pagesSayWhenTheDeviceIsGone() {
        buildPages();
        chosen_ = file("one\ntwo\nthree\n");
        click("Command3");
        QTRY_VERIFY(w("Command4")->isEnabled());
        click("Command4");
        QVERIFY(QTest::qWaitFor([this] { return ch_->writes.size() == 2; }));
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): reading failed."));
        click("Command6"); // the next reception
        ch_->inject("\x05"
                    "A\r\n\x05"
                    "B\r\n\x05"
                    "C");
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): the device was removed."));
        QCOMPARE(log_, (QStringList{"lock 1", "unlock 1",
                                    "COM 1 (/dev/null) is no longer available; the send stopped "
                                    "after line 2 of 3.",
                                    "lock 2", "unlock 2",
                                    "COM 1 (/dev/null) is no longer available; the reception "
                                    "stopped after 3 lines."}));
        QTRY_COMPARE(text("Text2"), QStringLiteral("A\nB\nC"));
        QCOMPARE(text("Text8"), QStringLiteral("5"));
        for (const char* name : {"Command3", "Command4", "Command9", "Command6"})
            QVERIFY2(w(name)->isEnabled(), name);
        QVERIFY(!w("Command5")->isEnabled());
    }
};

QTEST_MAIN(TextTransferTest)
#include "test_text_transfer.moc"
