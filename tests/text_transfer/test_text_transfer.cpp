// The text sender and receiver on an in-memory channel, and the pages that
// wire them to the controls of the two text tabs.
#include "link/messenger.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "support/recording.h"
#include "text_transfer/text_file_loader.h"
#include "text_transfer/text_lines.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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
    QString hex() const {
        QStringList each;
        for (const QByteArray& w : writes)
            each.append(QString::fromLatin1(w.toHex()));
        return each.join(QLatin1Char('|'));
    }
    QElapsedTimer clock;
    QList<qint64> at;
};

constexpr qint64 kMs = 1000000;
constexpr int kIdleMs = 150;
const QString kSent = QStringLiteral("busy idle done");
const QString kStopped = QStringLiteral("busy idle failed stopped");
const QString kReceived = QStringLiteral("busy idle");
const QString kWaiting = QStringLiteral("Waiting, please...");
const QString kDialog = QStringLiteral("Select the source file|Text files (*.txt)");

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
    QStringList log_;   // signals, messages, tab locks and dialogs, in order
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
    bool enabled(const char* name) { return w(name)->isEnabled(); }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    QString text(const char* name) {
        // The document's own characters (toPlainText() turns 0xA0 into a blank).
        if (auto* box = w<QPlainTextEdit>(name))
            return box->document()->toRawText().replace(QChar::ParagraphSeparator, '\n');
        return w(name)->property("text").toString(); // a label or a line box
    }
    // The controls of the text tabs, and the pages on them: remote address 4.
    void buildPages() {
        form_ = std::make_unique<QWidget>();
        auto add = [](QWidget* c, const char* name) { c->setObjectName(QLatin1String(name)); };
        for (const char* name :
             {"Command3", "Command4", "Command9", "Command6", "Command5", "Command10"})
            add(new QPushButton(form_.get()), name);
        w("Command4")->setEnabled(false);
        w("Command5")->setEnabled(false);
        add(new QLabel(form_.get()), "Label8");
        add(new QLabel(form_.get()), "Label9");
        add(new QLineEdit(form_.get()), "Text8");
        add(new QPlainTextEdit(form_.get()), "Text1");
        add(new QPlainTextEdit(form_.get()), "Text2");
        settings_.setRemoteAddress(4);
        StationContext ctx;
        ctx.settings = &settings_;
        ctx.messenger = this;
        ctx.lockTabs = [this](Tab keep, bool on) {
            log_.append(QStringLiteral("%1 %2").arg(on ? "lock" : "unlock").arg(int(keep)));
        };
        ctx.chooseFile = [this](const QString& title, const QString& filter) {
            log_.append(title + QLatin1Char('|') + filter);
            return chosen_;
        };
        pages_ = std::make_unique<TextPages>(ctx, form_.get(), *ch_);
    }

private slots:
    void init() {
        ch_ = std::make_unique<TimedChannel>();
        settings_.setMode(Mode::Slave);
        settings_.setRemoteAddress(0);
        settings_.setLineSetting(kDefaultLineSetting);
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

    void wireBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<QString>("writes");
        QTest::newRow("slave") << QByteArray("AB\r\nC\r\n") << -1 << "41420d0a|430d0a";
        QTest::newRow("master 5") << QByteArray("AB\r\nC\r\n") << 5 << "0541420d0a|05430d0a";
        QTest::newRow("empty line") << QByteArray("\r\n") << 9 << "090d0a";
        QTest::newRow("empty file") << QByteArray() << 5 << "";
        // The three kinds of line end, and a mix: CR LF and CR files keep
        // their bytes; a lone LF ends a line too and leaves as CR LF.
        QTest::newRow("CR file") << QByteArray("AB\rC\r") << -1 << "41420d0a|430d0a";
        QTest::newRow("LF file") << QByteArray("A\n\nB\n") << 5 << "05410d0a|050d0a|05420d0a";
        QTest::newRow("mixed") << QByteArray("A\r\nB\rC\nD\n\rE") << -1
                               << "410d0a|420d0a|430d0a|440d0a|0d0a|450d0a";
        QTest::newRow("no final break") << QByteArray("AB\r\nC") << -1 << "41420d0a|430d0a";
        QTest::newRow("LF after CR LF") << QByteArray("A\r\n\nB") << -1 << "410d0a|0d0a|420d0a";
        QTest::newRow("address 0") << QByteArray("A\r\rB") << 0 << "00410d0a|000d0a|00420d0a";
        QTest::newRow("NUL, bytes 80-FF")
            << QByteArray("\x80\0\xff\r\n\xc3\xa9", 7) << 200 << "c88000ff0d0a|c8c3a90d0a";
    }
    void wireBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, address);
        QFETCH(QString, writes);
        settings_.setMode(address >= 0 ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        QVERIFY(sender_->send(file(bytes)));
        QTRY_COMPARE(log(), kSent);
        QCOMPARE(ch_->hex(), writes);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({1, 1}));
        for (int i = 1; i < ch_->at.size(); ++i)
            QVERIFY(ch_->at[i] - ch_->at[i - 1] >= settings_.pacingMs() * kMs);
    }

    void sendFailures_data() {
        QTest::addColumn<QString>("message");
        QTest::newRow("channel refused") << "refused";
        QTest::newRow("file missing") << "gone.txt";
        QTest::newRow("file unreadable") << "Cannot read";
        QTest::newRow("channel lost") << "device was removed";
    }
    void sendFailures() {
        QFETCH(QString, message);
        const QString what = QString::fromLatin1(QTest::currentDataTag());
        const bool started = what == "channel lost";
        ch_->failOpen = what == "channel refused";
        QCOMPARE(sender_->send(what == "file missing"      ? dir_.filePath("gone.txt")
                               : what == "file unreadable" ? "/proc/self/mem" // opens, reads not
                                                           : file("1\r2\r3\r")),
                 started);
        if (started) {
            ch_->close(); // the device is gone
            emit ch_->lost(QStringLiteral("COM 1 (/dev/x): the device was removed."));
        }
        QTRY_COMPARE(log(), started ? kStopped : QStringLiteral("failed"));
        QVERIFY2(error_.contains(message), qPrintable(error_));
        QVERIFY(!ch_->isOpen());
        // A file that cannot be read never gets as far as the port.
        QCOMPARE(ch_->opens, what.startsWith("file") ? 0 : 1);
        ch_->failOpen = false; // and the next Send goes ahead
        QVERIFY(sender_->send(file("A\r\n")));
    }

    // Only regular files are read; nothing else is even waited on.
    void onlyRegularFilesAreRead_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("refusal"); // empty: read
        const QString fifo = dir_.filePath(QStringLiteral("pipe"));
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        const QString link = dir_.filePath(QStringLiteral("link.txt"));
        QFile::link(file("A\nB"), link);
        const QString pipeLink = dir_.filePath(QStringLiteral("pipe.txt"));
        QFile::link(fifo, pipeLink);
        QTest::newRow("regular file") << dir_.filePath(QStringLiteral("f.txt")) << QString();
        QTest::newRow("link to a file") << link << QString();
        QTest::newRow("named pipe") << fifo << "it is a named pipe, not a text file";
        QTest::newRow("link to a pipe") << pipeLink << "it is a named pipe, not a text file";
        QTest::newRow("/dev/zero") << "/dev/zero"
                                   << "it is a device, not a text file";
        QTest::newRow("folder") << dir_.path() << "it is a folder, not a text file";
        QTest::newRow("missing") << dir_.filePath(QStringLiteral("gone")) << "does not exist";
    }
    void onlyRegularFilesAreRead() {
        QFETCH(QString, path);
        QFETCH(QString, refusal);
        QElapsedTimer clock;
        clock.start();
        const FileRead read = readTextFile(path);
        QCOMPARE(read.error.contains(refusal), true);
        QCOMPARE(read.ok(), refusal.isEmpty());
        QCOMPARE(read.bytes, refusal.isEmpty() ? QByteArray("A\nB") : QByteArray());
        // Send refuses the same, before the port is touched.
        QCOMPARE(sender_->send(path), refusal.isEmpty());
        QCOMPARE(ch_->opens, refusal.isEmpty() ? 1 : 0);
        QVERIFY(clock.elapsed() < 2000);
        QTRY_VERIFY(!sender_->isBusy());
    }

    // The send box is filled piece by piece; cut anywhere, even between
    // the CR and the LF of a pair, the pieces make up the file as shown,
    // and the bytes kept are the file's.
    void fileLoadsInPieces_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("CR LF") << QByteArray("AB\r\n\r\nC\r\n") << "AB\n\nC\n";
        QTest::newRow("CR") << QByteArray("AB\r\rC") << "AB\n\nC\n";
        QTest::newRow("LF") << QByteArray("AB\n\nC\n") << "AB\n\nC\n";
        QTest::newRow("mixed") << QByteArray("A\r\nB\rC\nD\n\rE\r") << "A\nB\nC\nD\n\nE\n";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("bytes 80-FF")
            << QByteArray("\xe9\xff\x80") << QString::fromLatin1("\xe9\xff\x80\n");
    }
    void fileLoadsInPieces() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        const QString path = file(bytes);
        for (int step = 1; step <= 4; ++step) {
            FileLoader loader;
            loader.setStepBytes(step);
            QStringList pieces, ends;
            connect(&loader, &FileLoader::piece, this, [&](const QString& p) { pieces << p; });
            connect(&loader, &FileLoader::finished, this,
                    [&](bool ok, const QString& e) { ends << QString::number(ok) + e; });
            QVERIFY(loader.start(path, nullptr));
            QVERIFY(pieces.isEmpty()); // nothing before the first step
            QTRY_COMPARE(ends, QStringList{"1"});
            QCOMPARE(pieces.join(QString()), shown);
            QCOMPARE(loader.bytes(), bytes);
            QCOMPARE(countLines(bytes), int(shown.count(QLatin1Char('\n'))));
            QVERIFY(bytes.size() < 3 * step || pieces.size() > 1);
        }
        // A new Open... while a load runs replaces it; a refused one does not.
        FileLoader loader;
        loader.setStepBytes(1);
        int heard = 0;
        connect(&loader, &FileLoader::piece, this, [&] { ++heard; });
        connect(&loader, &FileLoader::finished, this, [&] { ++heard; });
        QVERIFY(loader.start(path, nullptr));
        QString error;
        QVERIFY(!loader.start(QStringLiteral("/dev/zero"), &error));
        QVERIFY(loader.isLoading() && error.contains(QStringLiteral("a device")));
        loader.reset(); // Clear: no further word, nothing kept
        QTest::qWait(20);
        QCOMPARE(heard, 0);
        QCOMPARE(loader.bytes(), QByteArray());
    }

    void receivedLines_data() {
        QTest::addColumn<QString>("pieces"); // in hex, each one a batch of its own
        QTest::addColumn<bool>("master");
        // "sender:line in hex" once all pieces are in, then after "|" the
        // unfinished line shown at the end.
        QTest::addColumn<QString>("lines");
        QTest::newRow("line in pieces") << "41 420d 0a" << false << "0:41420d";
        QTest::newRow("address alone") << "07 410d0a" << true << "7:410d";
        QTest::newRow("several in one batch")
            << "01410d0a02420d0a0343" << true << "1:410d 2:420d|3:43";
        QTest::newRow("sender 10 (LF)") << "0a410d0a 0a0d0a" << true << "10:410d 10:0d";
        QTest::newRow("empty lines") << "0d0a0a" << false << "0:0d 0:";
        QTest::newRow("bytes 80-FF") << "c880e9ff0d0a" << true << "200:80e9ff0d";
        QTest::newRow("address only") << "03410d0a04" << true << "3:410d|4:";
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
        QCOMPARE(rx_->state(), TextReceiver::State::Receiving);
        if (lost)
            emit ch_->lost(QStringLiteral("the device was removed."));
        QTRY_VERIFY(ended());                 // or by silence
        QCOMPARE(ch_->receiveThreshold(), 0); // as the channel was before
        QCOMPARE(lines_.join(QLatin1Char(' ')), lines.replace(QLatin1Char('|'), QLatin1Char(' ')));
        QCOMPARE(log(), kReceived + (lost ? " failed" : ""));
    }

    void everyByteRestartsTheIdleTimeout() {
        QVERIFY(rx_->receive());
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
        QCOMPARE(log(), kReceived);
    }

    void breakEndsTheReceptionForGood() {
        QVERIFY(rx_->receive());
        ch_->inject("A\r\nB");
        rx_->stop();
        QVERIFY(ended());
        rx_->stop();
        // The next one: no second Receive meanwhile, no timeout before its
        // first byte, and a Break from a line's receiver drops what follows.
        connect(rx_.get(), &TextReceiver::lineReceived, rx_.get(), &TextReceiver::stop);
        QVERIFY(rx_->receive());
        QVERIFY(!rx_->receive());
        QTest::qWait(3 * kIdleMs);
        QCOMPARE(rx_->state(), TextReceiver::State::WaitingFirst);
        ch_->inject("C\r\nD\r\nE");
        QVERIFY(ended());
        QCOMPARE(lines_, (QStringList{"0:410d", "0:42", "0:430d"}));
        QCOMPARE(log(), kReceived + ' ' + kReceived);
    }

    void pagesOpenSendAndClear() {
        buildPages();
        chosen_ = dir_.filePath(QStringLiteral("vanished.txt"));
        click("Command3");
        QVERIFY(log_.takeLast().contains(QStringLiteral("vanished.txt")));
        QVERIFY(!enabled("Command4")); // nothing to send
        const QString shown = QString::fromUtf8("AB\n\ndéjà\nlast\n");
        chosen_ = file("AB\r\n\nd\xe9j\xe0\rlast"); // three kinds of line end
        click("Command3");
        QVERIFY(!enabled("Command4")); // until the whole file is in the box
        QTRY_VERIFY(enabled("Command4"));
        chosen_.clear(); // a cancelled dialog changes nothing
        click("Command3");
        QCOMPARE(text("Text1"), shown);
        // Send sends what was shown, even when the file changed meanwhile.
        file("changed\r\n");
        ch_->failOpen = true;
        click("Command4");
        ch_->failOpen = false;
        settings_.setMode(Mode::Master);
        click("Command4");
        QCOMPARE(text("Label8"), kWaiting);
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(!enabled(name), name);
        // Presses that get through anyway start or change nothing.
        for (const char* name : {"Command3", "Command4", "Command9", "Command6"})
            emit w<QPushButton>(name)->clicked();
        QCOMPARE(text("Text1"), shown);
        QTRY_COMPARE(
            log_, (QStringList{kDialog, kDialog, kDialog, ch_->failReason, "lock 1", "unlock 1"}));
        QCOMPARE(ch_->allWritten().toHex(),
                 QByteArray("0441420d0a040d0a0464e96ae00d0a046c6173740d0a"));
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(enabled(name), name);
        click("Command9");
        QCOMPARE(text("Text1"), QString());
        QVERIFY(!enabled("Command4"));
        emit w<QPushButton>("Command4")->clicked();
        QCOMPARE(ch_->opens, 2);
    }

    // A device that goes away is named in the user's words, with how far
    // the send or the reception got.
    void pagesSayWhenTheDeviceIsGone() {
        buildPages();
        chosen_ = file("one\ntwo\nthree\n");
        click("Command3");
        QTRY_VERIFY(enabled("Command4"));
        log_.clear();
        click("Command4");
        QTRY_COMPARE(ch_->writes.size(), 2);
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): reading failed."));
        click("Command6"); // the next reception
        ch_->inject("A\r\nB\r\nC");
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): the device was removed."));
        QCOMPARE(log_, (QStringList{"lock 1", "unlock 1",
                                    "COM 1 (/dev/null) is no longer available; the send stopped "
                                    "after line 2 of 3.",
                                    "lock 2", "unlock 2",
                                    "COM 1 (/dev/null) is no longer available; the reception "
                                    "stopped after 3 lines."}));
        QTRY_COMPARE(text("Text2"), QStringLiteral("A\nB\nC"));
        for (const char* name : {"Command3", "Command4", "Command9", "Command6"})
            QVERIFY2(enabled(name), name);
        QVERIFY(!enabled("Command5"));
    }

    void pagesShowReceivedLines() {
        buildPages();
        ch_->failOpen = true;
        click("Command6");
        ch_->failOpen = false;
        settings_.setMode(Mode::Master);
        click("Command6");
        QVERIFY(!enabled("Command6") && enabled("Command5"));
        QByteArray high;
        for (int b = 0x80; b <= 0xFF; ++b)
            high.append(char(b));
        // The lines of one receive event go into the box in one edit.
        int edits = 0;
        connect(w<QPlainTextEdit>("Text2")->document(), &QTextDocument::contentsChange, this,
                [&](int, int, int added) { edits += added > 0; });
        ch_->inject(QByteArray::fromHex("0741420d0a090d0a0a") + high + "\r\n");
        QTRY_COMPARE(text("Text2"), QLatin1String("AB\n\n") + QString::fromLatin1(high));
        QCOMPARE(text("Text8"), QStringLiteral("10"));
        QCOMPARE(edits, 1);
        // Lines in receive events of their own, coming faster than frames,
        // are drawn together: at most one edit a frame, none late.
        QElapsedTimer clock;
        clock.start();
        QString expected = text("Text2");
        for (int i = 0; i < 40; ++i) {
            ch_->inject("\x05" + QByteArray::number(i) + "\r\n");
            expected += '\n' + QString::number(i);
            QTest::qWait(2);
        }
        QTRY_COMPARE(text("Text2"), expected);
        const qint64 ms = clock.elapsed();
        QVERIFY2(edits - 1 <= ms / TextPages::kFrameMs + 1,
                 qPrintable(QStringLiteral("%1 edits in %2 ms").arg(edits - 1).arg(ms)));
        QCOMPARE(text("Text8"), QStringLiteral("5"));
        ch_->inject("\x06last\r\n");
        QTest::qWait(2 * TextPages::kFrameMs);
        QCOMPARE(text("Text8"), QStringLiteral("6"));
        click("Command10"); // Clear works during a reception
        QCOMPARE(text("Text2") + text("Text8"), QString());
        // An empty first line stays a line of its own.
        ch_->inject("\x07\r\n");
        QTest::qWait(2 * TextPages::kFrameMs);
        ch_->inject("\x07X\r\n");
        QTRY_COMPARE(text("Text2"), QStringLiteral("\nX"));
        click("Command10");
        chosen_ = file("A\r\n"); // Send waits for the end of the reception
        click("Command3");
        click("Command4");
        click("Command5");
        QCOMPARE(log_, (QStringList{ch_->failReason, "lock 2", kDialog, "unlock 2"}));
        QVERIFY(enabled("Command6") && !enabled("Command5") && !ch_->isOpen());
        QCOMPARE(text("Label9"),
                 QStringLiteral("Press the Receive button when you are ready. You can view the "
                                "received file in the window below."));
    }
};

QTEST_MAIN(TextTransferTest)
#include "test_text_transfer.moc"
