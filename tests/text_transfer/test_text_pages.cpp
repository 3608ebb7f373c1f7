#include "link/messenger.h"
#include "support/fake_channel.h"
#include "text_transfer/captions.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;
using rava::test::FakeChannel;

namespace {

class RecordingMessenger : public Messenger {
public:
    void error(const QString& text) override { errors.append(text); }
    void info(const QString& title, const QString& text) override {
        infos.append(title + QLatin1Char('|') + text);
    }
    QStringList errors;
    QStringList infos;
};

// The controls of the two text tabs, built the way the window names them.
struct Form {
    explicit Form(bool richBoxes) {
        for (const char* name :
             {"Command3", "Command4", "Command9", "Command6", "Command5", "Command10"})
            add(new QPushButton(&root), name);
        add(new QLabel(&root), "Label8");
        add(new QLabel(&root), "Label9");
        add(new QLineEdit(&root), "Text8");
        if (richBoxes) {
            add(new QTextEdit(&root), "Text1");
            add(new QTextEdit(&root), "Text2");
        } else {
            add(new QPlainTextEdit(&root), "Text1");
            add(new QPlainTextEdit(&root), "Text2");
        }
        button("Command4")->setEnabled(false);
        button("Command5")->setEnabled(false);
    }
    static void add(QWidget* w, const char* name) { w->setObjectName(QLatin1String(name)); }
    QPushButton* button(const char* name) {
        return root.findChild<QPushButton*>(QLatin1String(name));
    }
    QString label(const char* name) { return root.findChild<QLabel*>(QLatin1String(name))->text(); }
    QString boxText(const char* name) {
        QWidget* w = root.findChild<QWidget*>(QLatin1String(name));
        // The document's own characters: toPlainText() would turn a
        // received 0xA0 (no-break space) into a blank.
        QTextDocument* doc = nullptr;
        if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            doc = p->document();
        else if (auto* r = qobject_cast<QTextEdit*>(w))
            doc = r->document();
        else
            return qobject_cast<QLineEdit*>(w)->text();
        return doc->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    }
    bool caretAtEnd(const char* name) {
        QWidget* w = root.findChild<QWidget*>(QLatin1String(name));
        if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            return p->textCursor().atEnd();
        return qobject_cast<QTextEdit*>(w)->textCursor().atEnd();
    }
    bool caretInView(const char* name) {
        QWidget* w = root.findChild<QWidget*>(QLatin1String(name));
        if (auto* p = qobject_cast<QPlainTextEdit*>(w))
            return p->viewport()->rect().contains(p->cursorRect());
        auto* r = qobject_cast<QTextEdit*>(w);
        return r->viewport()->rect().contains(r->cursorRect());
    }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    QWidget root;
};

} // namespace

class TextPagesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Form> form_;
    FakeChannel channel_;
    RecordingMessenger messenger_;
    bool master_ = false;
    int address_ = 0;
    QString chosen_;
    QStringList dialogs_;
    QStringList tabLocks_;
    std::unique_ptr<TextPages> pages_;

    QString makeFile(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write(bytes);
        return path;
    }

    void build(bool richBoxes) {
        pages_.reset();
        form_ = std::make_unique<Form>(richBoxes);
        StationContext ctx;
        ctx.form = &form_->root;
        ctx.messenger = &messenger_;
        ctx.isMaster = [this] { return master_; };
        ctx.remoteAddress = [this] { return address_; };
        ctx.lockTabs = [this](int keep, bool locked) {
            tabLocks_.append(QStringLiteral("%1:%2").arg(keep).arg(locked ? "lock" : "unlock"));
        };
        ctx.chooseFile = [this](const QString& title, const QString& filter) {
            dialogs_.append(title + QLatin1Char('|') + filter);
            return chosen_;
        };
        pages_ = std::make_unique<TextPages>(ctx, channel_, [] { return 15; });
    }

private slots:
    void init() {
        channel_.close();
        channel_.writes.clear();
        channel_.opens = 0;
        channel_.closes = 0;
        channel_.failOpen = false;
        messenger_ = RecordingMessenger();
        master_ = false;
        address_ = 0;
        chosen_.clear();
        dialogs_.clear();
        tabLocks_.clear();
        build(false);
    }
    void cleanup() {
        pages_.reset();
        form_.reset();
    }

    void openShowsTheFileAndEnablesSend() {
        chosen_ = makeFile(QStringLiteral("a.txt"), QByteArray("AB\r\n\r\nd\xe9j\xe0\rlast"));
        form_->click("Command3");
        QCOMPARE(dialogs_, QStringList{"Select the source file|Text files (*.txt)"});
        QCOMPARE(pages_->selectedFile(), chosen_);
        QVERIFY(form_->button("Command4")->isEnabled());
        // Each line followed by a line break, every byte one Latin-1 character.
        QCOMPARE(form_->boxText("Text1"), QString::fromUtf8("AB\n\ndéjà\nlast\n"));
        QVERIFY(messenger_.errors.isEmpty());
    }

    void cancelledDialogChangesNothing() {
        const QString first = makeFile(QStringLiteral("first.txt"), "one\r\n");
        chosen_ = first;
        form_->click("Command3");
        const QString shown = form_->boxText("Text1");
        chosen_.clear(); // the user cancels the next dialog
        form_->click("Command3");
        QCOMPARE(dialogs_.size(), 2);
        QCOMPARE(form_->boxText("Text1"), shown);
        QCOMPARE(pages_->selectedFile(), first);
        QVERIFY(form_->button("Command4")->isEnabled());

        // Cancelled before any file was chosen: Send stays disabled.
        build(false);
        form_->click("Command3");
        QVERIFY(!form_->button("Command4")->isEnabled());
        QVERIFY(pages_->selectedFile().isEmpty());
    }

    void unreadableFileIsReported() {
        chosen_ = dir_.filePath(QStringLiteral("vanished.txt"));
        form_->click("Command3");
        QCOMPARE(messenger_.errors.size(), 1);
        QVERIFY(messenger_.errors.first().contains(QStringLiteral("vanished.txt")));
        QCOMPARE(form_->boxText("Text1"), QString());
    }

    void sendLocksTheTabAndItsButtons() {
        chosen_ = makeFile(QStringLiteral("s.txt"), "A\r\nB\r\nC\r\n");
        form_->click("Command3");
        master_ = true;
        address_ = 4;
        QSignalSpy finished(&pages_->sender(), &TextSender::finished);
        form_->click("Command4");
        QCOMPARE(tabLocks_, QStringList{"1:lock"});
        QCOMPARE(form_->label("Label8"), QString::fromLatin1(kWaitingCaption));
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(!form_->button(name)->isEnabled(), name);
        // A press that still gets through (from code) starts nothing.
        form_->button("Command4")->click();
        form_->button("Command3")->click();
        QCOMPARE(channel_.opens, 1);
        QCOMPARE(dialogs_.size(), 1);

        QVERIFY(finished.wait(5000));
        QCOMPARE(channel_.allWritten(), QByteArray("\x04"
                                                   "A\r\n\x04"
                                                   "B\r\n\x04"
                                                   "C\r\n"));
        QCOMPARE(tabLocks_, (QStringList{"1:lock", "1:unlock"}));
        QCOMPARE(form_->label("Label8"), QString::fromLatin1(kSendIdleCaption));
        for (const char* name : {"Command3", "Command4", "Command9"})
            QVERIFY2(form_->button(name)->isEnabled(), name);
    }

    void clearEmptiesTheBoxAndDisablesSend() {
        chosen_ = makeFile(QStringLiteral("c.txt"), "A\r\n");
        form_->click("Command3");
        form_->click("Command9");
        QCOMPARE(form_->boxText("Text1"), QString());
        QVERIFY(!form_->button("Command4")->isEnabled());
        form_->button("Command4")->click(); // from code, despite being disabled
        QCOMPARE(channel_.opens, 0);
    }

    void failuresReachTheUser() {
        chosen_ = makeFile(QStringLiteral("f.txt"), "A\r\n");
        form_->click("Command3");
        channel_.failOpen = true;
        form_->click("Command4");
        QCOMPARE(messenger_.errors, QStringList{channel_.failReason});
        QVERIFY(tabLocks_.isEmpty());
        QVERIFY(form_->button("Command4")->isEnabled());

        form_->click("Command6");
        QCOMPARE(messenger_.errors.size(), 2);
        QCOMPARE(tabLocks_, (QStringList{"2:lock", "2:unlock"}));
        QVERIFY(form_->button("Command6")->isEnabled());
        QVERIFY(!form_->button("Command5")->isEnabled());
    }

    void receivedLinesAreShown_data() {
        QTest::addColumn<bool>("richBoxes");
        QTest::newRow("plain text boxes") << false;
        QTest::newRow("rich text boxes") << true;
    }
    void receivedLinesAreShown() {
        QFETCH(bool, richBoxes);
        build(richBoxes);
        master_ = true;
        form_->click("Command6");
        QCOMPARE(tabLocks_, QStringList{"2:lock"});
        QVERIFY(!form_->button("Command6")->isEnabled());
        QVERIFY(form_->button("Command5")->isEnabled());
        QCOMPARE(form_->label("Label9"), QString::fromLatin1(kWaitingCaption));

        QByteArray high;
        for (int b = 0x80; b <= 0xFF; ++b)
            high.append(char(b));
        channel_.inject(QByteArray("\x07"
                                   "AB\r\n\x09\r\n\x0a") +
                        high + "\r\n");
        QCOMPARE(form_->boxText("Text2"),
                 QStringLiteral("AB\n\n") + QString::fromLatin1(high) + QLatin1Char('\n'));
        QCOMPARE(form_->boxText("Text8"), QStringLiteral("10"));
        QVERIFY(form_->caretAtEnd("Text2"));

        // Clear works during a reception and the next lines follow on.
        form_->click("Command10");
        QCOMPARE(form_->boxText("Text2"), QString());
        QCOMPARE(form_->boxText("Text8"), QString());
        master_ = false;
        channel_.inject("x\r\n");
        QCOMPARE(form_->boxText("Text2"), QStringLiteral("x\n"));
        QCOMPARE(form_->boxText("Text8"), QStringLiteral("0"));

        form_->click("Command5");
        QCOMPARE(tabLocks_, (QStringList{"2:lock", "2:unlock"}));
        QVERIFY(form_->button("Command6")->isEnabled());
        QVERIFY(!form_->button("Command5")->isEnabled());
        QCOMPARE(form_->label("Label9"), QString::fromLatin1(kReceiveIdleCaption));
        QVERIFY(!channel_.isOpen());
    }

    void receiveBoxFollowsTheLastLine_data() { receivedLinesAreShown_data(); }
    void receiveBoxFollowsTheLastLine() {
        QFETCH(bool, richBoxes);
        build(richBoxes);
        QWidget* box = form_->root.findChild<QWidget*>(QStringLiteral("Text2"));
        form_->root.resize(300, 200);
        box->setGeometry(0, 0, 250, 120);
        form_->root.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form_->root));
        form_->click("Command6");
        for (int i = 0; i < 200; ++i) {
            channel_.inject(QByteArray::number(i) + "\r\n");
            if (i % 50 == 0)
                QCoreApplication::processEvents();
        }
        QVERIFY(form_->caretAtEnd("Text2"));
        auto* scroll = qobject_cast<QAbstractScrollArea*>(box)->verticalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        QTRY_VERIFY(form_->caretInView("Text2"));
        // Moved away by the user, the caret comes back with the next line.
        scroll->setValue(0);
        if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
            plain->moveCursor(QTextCursor::Start);
        else
            qobject_cast<QTextEdit*>(box)->moveCursor(QTextCursor::Start);
        channel_.inject("next\r\n");
        QVERIFY(form_->caretAtEnd("Text2"));
        QTRY_VERIFY(form_->caretInView("Text2"));
    }

    void sendAndReceiveNeverShareTheChannel() {
        chosen_ = makeFile(QStringLiteral("r.txt"), "A\r\nB\r\n");
        form_->click("Command3");
        form_->click("Command6");
        form_->button("Command4")->click(); // the other tab is locked; from code
        QCOMPARE(pages_->sender().state(), TextSender::State::Idle);
        QVERIFY(channel_.writes.isEmpty());
        form_->click("Command5");

        QSignalSpy finished(&pages_->sender(), &TextSender::finished);
        form_->click("Command4");
        form_->button("Command6")->click();
        QCOMPARE(pages_->receiver().state(), TextReceiver::State::Idle);
        QVERIFY(finished.wait(5000));
        QCOMPARE(channel_.writes.size(), 2);
    }

    void receiveBoxKeepsItsTextAcrossReceptions() {
        form_->click("Command6");
        channel_.inject("\r\nfirst\r\n");
        form_->click("Command5");
        form_->click("Command6");
        channel_.inject("second\r\n");
        // An empty first line is kept as an empty line.
        QCOMPARE(form_->boxText("Text2"), QStringLiteral("\nfirst\nsecond\n"));
    }
};

QTEST_MAIN(TextPagesTest)
#include "test_text_pages.moc"
