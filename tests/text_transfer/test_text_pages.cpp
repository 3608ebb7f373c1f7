#include "link/messenger.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;

namespace {

class RecordingMessenger : public Messenger {
public:
    void error(const QString& text) override { errors.append(text); }
    void info(const QString&, const QString&) override {}
    QStringList errors;
};

template <typename Box> QString textOf(QWidget* w) {
    // The document's own characters (toPlainText() turns 0xA0 into a blank).
    return static_cast<Box*>(w)->document()->toRawText().replace(QChar::ParagraphSeparator,
                                                                 QLatin1Char('\n'));
}

} // namespace

class TextPagesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    test::FakeChannel channel_;
    RecordingMessenger messages_;
    bool master_ = false;
    QString chosen_;
    QStringList log_; // dialogs and tab locks, in order
    bool rich_ = false;
    std::unique_ptr<QWidget> form_;
    std::unique_ptr<TextPages> pages_;

    template <typename T = QWidget> T* w(const char* name) {
        return form_->findChild<T*>(QLatin1String(name));
    }
    bool enabled(const char* name) { return w(name)->isEnabled(); }
    void click(const char* name) { QTest::mouseClick(w(name), Qt::LeftButton); }
    QString box(const char* name) {
        if (auto* line = w<QLineEdit>(name))
            return line->text();
        return rich_ ? textOf<QTextEdit>(w(name)) : textOf<QPlainTextEdit>(w(name));
    }
    QString chooseFile(const QByteArray& bytes) {
        QFile f(dir_.filePath(QStringLiteral("f%1.txt").arg(log_.size())));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return chosen_ = f.fileName();
    }

    void build(bool rich) {
        pages_.reset();
        rich_ = rich;
        form_ = std::make_unique<QWidget>();
        auto add = [this](QWidget* c, const char* name) {
            c->setParent(form_.get());
            c->setObjectName(QLatin1String(name));
        };
        for (const char* name :
             {"Command3", "Command4", "Command9", "Command6", "Command5", "Command10"})
            add(new QPushButton, name);
        w("Command4")->setEnabled(false);
        w("Command5")->setEnabled(false);
        add(new QLabel, "Label8");
        add(new QLabel, "Label9");
        add(new QLineEdit, "Text8");
        add(rich ? static_cast<QWidget*>(new QTextEdit) : new QPlainTextEdit, "Text1");
        add(rich ? static_cast<QWidget*>(new QTextEdit) : new QPlainTextEdit, "Text2");
        StationContext ctx;
        ctx.form = form_.get();
        ctx.messenger = &messages_;
        ctx.isMaster = [this] { return master_; };
        ctx.remoteAddress = [] { return 4; };
        ctx.lockTabs = [this](int keep, bool on) {
            log_.append(QStringLiteral("%1%2").arg(on ? "lock " : "unlock ").arg(keep));
        };
        ctx.chooseFile = [this](const QString& title, const QString& filter) {
            log_.append(title + QLatin1Char('|') + filter);
            return chosen_;
        };
        pages_ = std::make_unique<TextPages>(ctx, channel_, [] { return 15; });
    }

private slots:
    void init() {
        channel_.close();
        channel_.writes.clear();
        channel_.opens = 0;
        channel_.failOpen = false;
        messages_.errors.clear();
        master_ = false;
        chosen_.clear();
        log_.clear();
        build(false);
    }

    void openCancelAndClear() {
        chooseFile("AB\r\n\r\nd\xe9j\xe0\rlast");
        click("Command3");
        QCOMPARE(log_, QStringList{"Select the source file|Text files (*.txt)"});
        QVERIFY(enabled("Command4"));
        QCOMPARE(box("Text1"), QString::fromUtf8("AB\n\ndéjà\nlast\n"));
        // A cancelled dialog leaves the box, the file and Send as they were.
        const QString first = chosen_;
        chosen_.clear();
        click("Command3");
        QCOMPARE(box("Text1"), QString::fromUtf8("AB\n\ndéjà\nlast\n"));
        QCOMPARE(pages_->selectedFile(), first);
        QVERIFY(enabled("Command4"));

        click("Command9");
        QCOMPARE(box("Text1"), QString());
        QVERIFY(!enabled("Command4"));
        qobject_cast<QPushButton*>(w("Command4"))->click(); // from code: still nothing
        QCOMPARE(channel_.opens, 0);
    }

    void sendLocksItsTabAndButtons() {
        chooseFile("A\r\nB\r\n");
        click("Command3");
        master_ = true;
        QSignalSpy finished(&pages_->sender(), &TextSender::finished);
        click("Command4");
        QCOMPARE(log_.last(), QStringLiteral("lock 1"));
        QCOMPARE(w<QLabel>("Label8")->text(), QLatin1String(kWaitingCaption));
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(!enabled(name), name);
        // Presses that get through anyway (from code) start nothing.
        qobject_cast<QPushButton*>(w("Command4"))->click();
        qobject_cast<QPushButton*>(w("Command3"))->click();
        qobject_cast<QPushButton*>(w("Command6"))->click();
        QCOMPARE(channel_.opens, 1);
        QCOMPARE(log_.size(), 2);

        QVERIFY(finished.wait(5000));
        QCOMPARE(channel_.allWritten(), QByteArray("\x04"
                                                   "A\r\n\x04"
                                                   "B\r\n"));
        QCOMPARE(log_.last(), QStringLiteral("unlock 1"));
        QCOMPARE(w<QLabel>("Label8")->text(), QLatin1String(kSendIdleCaption));
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(enabled(name), name);
    }

    void receivedLinesAreShown_data() {
        QTest::addColumn<bool>("rich");
        QTest::newRow("QPlainTextEdit") << false;
        QTest::newRow("QTextEdit") << true;
    }
    void receivedLinesAreShown() {
        QFETCH(bool, rich);
        build(rich);
        form_->resize(300, 200);
        w("Text2")->setGeometry(0, 0, 250, 120);
        form_->show();
        master_ = true;
        click("Command6");
        QCOMPARE(log_, QStringList{"lock 2"});
        QVERIFY(!enabled("Command6") && enabled("Command5"));
        QCOMPARE(w<QLabel>("Label9")->text(), QLatin1String(kWaitingCaption));

        QByteArray high;
        for (int b = 0x80; b <= 0xFF; ++b)
            high.append(char(b));
        channel_.inject("\x07"
                        "AB\r\n\x09\r\n\x0a" +
                        high + "\r\n");
        QCOMPARE(box("Text2"), QLatin1String("AB\n\n") + QString::fromLatin1(high) + '\n');
        QCOMPARE(box("Text8"), QStringLiteral("10"));

        click("Command10"); // Clear works during a reception
        QCOMPARE(box("Text2") + box("Text8"), QString());
        master_ = false;
        for (int i = 0; i < 100; ++i)
            channel_.inject(QByteArray::number(i) + "\r\n");
        QCOMPARE(box("Text8"), QStringLiteral("0"));
        // The caret follows the last line and keeps it in view.
        auto* area = qobject_cast<QAbstractScrollArea*>(w("Text2"));
        const QRect caret =
            rich ? w<QTextEdit>("Text2")->cursorRect() : w<QPlainTextEdit>("Text2")->cursorRect();
        QVERIFY(rich ? w<QTextEdit>("Text2")->textCursor().atEnd()
                     : w<QPlainTextEdit>("Text2")->textCursor().atEnd());
        QVERIFY(area->verticalScrollBar()->value() > 0);
        QVERIFY(area->viewport()->rect().contains(caret));

        click("Command5");
        QCOMPARE(log_.last(), QStringLiteral("unlock 2"));
        QVERIFY(enabled("Command6") && !enabled("Command5"));
        QCOMPARE(w<QLabel>("Label9")->text(), QLatin1String(kReceiveIdleCaption));
        QVERIFY(!channel_.isOpen());
        qobject_cast<QPushButton*>(w("Command4"))->click(); // nothing while receiving, too
    }

    void failuresReachTheUser() {
        chooseFile("A\r\n");
        click("Command3");
        channel_.failOpen = true;
        click("Command4");
        click("Command6");
        QCOMPARE(messages_.errors, (QStringList{channel_.failReason, channel_.failReason}));
        QCOMPARE(log_.mid(1), (QStringList{"lock 2", "unlock 2"}));
        QVERIFY(enabled("Command4") && enabled("Command6") && !enabled("Command5"));
        chosen_ = dir_.filePath(QStringLiteral("vanished.txt"));
        click("Command3");
        QVERIFY(messages_.errors.last().contains(QStringLiteral("vanished.txt")));
    }
};

QTEST_MAIN(TextPagesTest)
#include "test_text_pages.moc"
