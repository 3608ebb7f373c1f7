// The text sender and receiver on an in-memory channel, and the pages that
// wire them to the controls of the two text tabs.
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
#include <sys/stat.h>

using namespace rava;
using namespace rava::text;

class TextTransferTest : public QObject, public Messenger {
    Q_OBJECT

    static constexpr int kIdleMs = 150;
    QTemporaryDir dir_;
    std::unique_ptr<test::FakeChannel> ch_;
    std::unique_ptr<TextSender> sender_;
    std::unique_ptr<TextReceiver> rx_;
    std::unique_ptr<QWidget> form_;
    StationSettings settings_;
    QStringList log_;   // signals, messages and tab locks, in order
    QStringList lines_; // received lines, "sender:line in hex"

    void error(const QString& text) override { log_.append(text); }
    void info(const QString&, const QString&) override {}

    QString log() const { return log_.join(QLatin1Char(' ')); }
    template <typename T = QWidget> T* w(const char* name) {
        return form_->findChild<T*>(QLatin1String(name));
    }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    QString text(const char* name) {
        return w(name)->property(w<QPlainTextEdit>(name) ? "plainText" : "text").toString();
    }

private slots:
    void init() {
        ch_ = std::make_unique<test::FakeChannel>();
        settings_.setMode(Mode::Slave);
        settings_.setRemoteAddress(0);
        log_.clear();
        lines_.clear();
        sender_ = std::make_unique<TextSender>(*ch_, settings_);
        rx_ = std::make_unique<TextReceiver>(*ch_, settings_, Timings{kIdleMs});
        const auto busy = [this](bool on) { log_.append(on ? "busy" : "idle"); };
        connect(sender_.get(), &TextSender::busyChanged, this, busy);
        connect(rx_.get(), &TextReceiver::busyChanged, this, busy);
        connect(rx_.get(), &TextReceiver::failed, this, [this] { log_.append("failed"); });
        connect(sender_.get(), &TextSender::finished, this,
                [this](bool ok) { log_.append(ok ? "done" : "stopped"); });
        connect(rx_.get(), &TextReceiver::lineReceived, this, [this](const QByteArray& l, int s) {
            lines_.append(QStringLiteral("%1:%2").arg(s).arg(QString::fromLatin1(l.toHex())));
        });
    }

    // Each line leaves as one write ending in CR LF, whatever ended it in
    // the file, behind the remote address on a master; the writes are
    // paced by the interval of the line setting (at 9600, 90 ms; else 50).
    void wireBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("address"); // -1: slave
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("pacingMs");
        QTest::addColumn<QByteArray>("writes");
        QTest::newRow("CR LF slave")
            << QByteArray("AB\r\nC\r\n\r\n") << -1 << 9 << 50 << QByteArray("41420d0a|430d0a|0d0a");
        QTest::newRow("CR LF master 5")
            << QByteArray("AB\r\nC\r\n") << 5 << 0 << 90 << QByteArray("0541420d0a|05430d0a");
        QTest::newRow("CR") << QByteArray("AB\r\rC") << -1 << 3 << 50
                            << QByteArray("41420d0a|0d0a|430d0a");
        QTest::newRow("LF") << QByteArray("A\n\nB\n") << 5 << 2 << 90
                            << QByteArray("05410d0a|050d0a|05420d0a");
        QTest::newRow("mix") << QByteArray("A\r\nB\rC\nD\n\rE") << -1 << 6 << 50
                             << QByteArray("410d0a|420d0a|430d0a|440d0a|0d0a|450d0a");
    }
    void wireBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, address);
        QFETCH(int, setting);
        QFETCH(int, pacingMs);
        QFETCH(QByteArray, writes);
        settings_.setMode(address >= 0 ? Mode::Master : Mode::Slave);
        settings_.setRemoteAddress(qMax(0, address));
        settings_.setLineSetting(setting);
        QVERIFY(sender_->sendBytes(bytes));
        QTRY_COMPARE(log(), QStringLiteral("busy idle done"));
        QByteArrayList hex;
        for (const QByteArray& write : ch_->writes)
            hex << write.toHex();
        QCOMPARE(hex.join('|'), writes);
        QCOMPARE(QList<int>({ch_->opens, ch_->closes}), QList<int>({1, 1}));
        // Never short; and the shortest pause is this interval, not a longer one.
        qint64 shortest = std::numeric_limits<qint64>::max();
        for (int i = 1; i < ch_->writtenAtNs.size(); ++i)
            shortest = qMin(shortest, ch_->writtenAtNs[i] - ch_->writtenAtNs[i - 1]);
        QVERIFY2(shortest >= pacingMs * 1000000LL && shortest < (pacingMs + 40) * 1000000LL,
                 qPrintable(QString::number(shortest)));
    }

    void receivedLines_data() {
        QTest::addColumn<QString>("pieces"); // in hex, each one a batch of its own
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("gapMs"); // between pieces, and before the first
        // "sender:line in hex" once all pieces are in, then after "|" the
        // unfinished line shown at the end.
        QTest::addColumn<QString>("lines");
        QTest::newRow("address alone") << "07 410d0a" << true << 0 << "7:410d";
        QTest::newRow("several in one batch")
            << "01410d0a02420d0a0343" << true << 0 << "1:410d 2:420d|3:43";
        QTest::newRow("sender 10 (LF)") << "0a410d0a 0a0d0a" << true << 0 << "10:410d 10:0d";
        QTest::newRow("channel lost") << "410d0a7061" << false << 0 << "0:410d|0:7061";
        // Break from a line's receiver drops what follows, for good.
        QTest::newRow("break") << "430d0a440d0a45" << false << 0 << "0:430d";
        // No timeout before the first byte; every byte restarts it.
        QTest::newRow("slow line") << QString("78 ").repeated(12).trimmed() << false << kIdleMs / 3
                                   << "|0:" + QString("78").repeated(12);
    }
    void receivedLines() {
        QFETCH(QString, pieces);
        QFETCH(bool, master);
        QFETCH(int, gapMs);
        QFETCH(QString, lines);
        const QByteArray tag = QTest::currentDataTag();
        if (tag == "break")
            connect(rx_.get(), &TextReceiver::lineReceived, rx_.get(), &TextReceiver::stop);
        settings_.setMode(master ? Mode::Master : Mode::Slave);
        QVERIFY(ch_->open());
        ch_->inject("stale\r\n"); // from before the reception: dropped
        QVERIFY(rx_->receive() && !rx_->receive());
        QTest::qWait(gapMs * 9);
        for (const QString& piece : pieces.split(QLatin1Char(' '))) {
            ch_->inject(QByteArray::fromHex(piece.toLatin1()));
            QTest::qWait(gapMs);
        }
        QCOMPARE(lines_.join(QLatin1Char(' ')), lines.section(QLatin1Char('|'), 0, 0));
        if (tag == "channel lost")
            emit ch_->lost(QStringLiteral("the device was removed."));
        QTRY_VERIFY(rx_->state() == TextReceiver::State::Idle && !ch_->isOpen() &&
                    !rx_->findChild<OneShot*>(QStringLiteral("Timer2"))->isActive());
        QCOMPARE(lines_.join(QLatin1Char(' ')), lines.replace('|', ' ').trimmed());
        QCOMPARE(log(), QStringLiteral("busy idle") + (tag == "channel lost" ? " failed" : ""));
    }

    // The pages on a master of 4 at 9600: a failed Open... leaves nothing to
    // send; one of a named pipe returns at once, the box as it was; a file
    // that loads in many steps is sent as shown, even when it changed since;
    // a lost device is named with how far the send or the reception got.
    void pages() {
        form_ = std::make_unique<QWidget>();
        layout::build(layout::tabPage(Tab::SendText), form_.get());
        layout::build(layout::tabPage(Tab::ReceiveText), form_.get());
        settings_.setMode(Mode::Master);
        settings_.setRemoteAddress(4);
        settings_.setLineSetting(0);
        QString chosen = dir_.filePath(QStringLiteral("vanished.txt"));
        const auto lock = [this](Tab keep, bool on) {
            log_ << QStringLiteral("%1 %2").arg(on ? "lock" : "unlock").arg(int(keep));
        };
        const auto choose = [&chosen](const QString&, const QString&) { return chosen; };
        TextPages pages({nullptr, &settings_, this, lock, choose}, form_.get(), *ch_,
                        Timings{kIdleMs});
        click("Command3");
        QVERIFY(log_.takeLast().contains(QStringLiteral("vanished.txt")));
        QVERIFY(!w("Command4")->isEnabled());
        pages.findChild<FileLoader*>()->setStepBytes(16);
        QByteArray bytes;
        for (int i = 0; i < 40; ++i)
            bytes += "line " + QByteArray::number(i) + (i % 3 ? "\n" : "\r\n");
        chosen = test::writeFile(dir_, QStringLiteral("f.txt"), bytes);
        int edits = 0;
        connect(w<QPlainTextEdit>("Text1")->document(), &QTextDocument::contentsChange, this,
                [&] { ++edits; });
        click("Command3");
        QVERIFY(!w("Command4")->isEnabled()); // until the whole file is in the box
        QTRY_VERIFY(w("Command4")->isEnabled());
        QVERIFY(edits > 10);
        chosen = dir_.filePath(QStringLiteral("pipe.txt"));
        QVERIFY(::mkfifo(QFile::encodeName(chosen).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        click("Command3");
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(log_.takeLast().contains(QStringLiteral("it is a named pipe, not a text file")));
        QCOMPARE(text("Text1"), QString::fromLatin1(bytes).replace("\r\n", "\n"));
        test::writeFile(dir_, QStringLiteral("f.txt"), "changed\r\n");
        click("Command4");
        QCOMPARE(text("Label8"), QStringLiteral("Waiting, please..."));
        QVERIFY(!w("Command3")->isEnabled() && !w("Command4")->isEnabled());
        QVERIFY(QTest::qWaitFor([this] { return ch_->writes.size() == 2; }));
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): reading failed."));
        QCOMPARE(ch_->allWritten(), QByteArray("\x04line 0\r\n\x04line 1\r\n"));
        click("Command9");
        QCOMPARE(text("Text1"), QString());
        click("Command6");
        ch_->inject("\x05"
                    "A\r\n\x05"
                    "B\r\n\x05"
                    "C");
        ch_->close();
        emit ch_->lost(QStringLiteral("COM 1 (/dev/null): the device was removed."));
        QCOMPARE(log_, (QStringList{"lock 1", "unlock 1",
                                    "COM 1 (/dev/null) is no longer available; the send stopped "
                                    "after line 2 of 40.",
                                    "lock 2", "unlock 2",
                                    "COM 1 (/dev/null) is no longer available; the reception "
                                    "stopped after 3 lines."}));
        QTRY_COMPARE(text("Text2"), QStringLiteral("A\nB\nC"));
        QCOMPARE(text("Text8"), QStringLiteral("5"));
        QVERIFY(!w("Command4")->isEnabled()); // the box was cleared
    }
};

QTEST_MAIN(TextTransferTest)
#include "test_text_transfer.moc"
