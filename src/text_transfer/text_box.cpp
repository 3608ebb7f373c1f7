#include "text_box.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

namespace rava::text {

namespace {

QTextDocument* documentOf(QWidget* box) {
    auto* plain = qobject_cast<QPlainTextEdit*>(box);
    return plain ? plain->document() : nullptr;
}

// Puts the caret after the last line and brings that place into view.
void caretToEnd(QWidget* box) {
    if (auto* plain = qobject_cast<QPlainTextEdit*>(box)) {
        // Text inserted at the caret moves it along, so it normally is at the
        // end already; then scrolling is enough, and much cheaper than
        // asking the box to find the caret again for every line.
        if (!plain->textCursor().atEnd())
            plain->moveCursor(QTextCursor::End);
        plain->verticalScrollBar()->setValue(plain->verticalScrollBar()->maximum());
        plain->horizontalScrollBar()->setValue(plain->horizontalScrollBar()->minimum());
    }
}

} // namespace

QString displayText(const QByteArray& line) {
    qsizetype size = line.size();
    if (size > 0 && line.at(size - 1) == '\r')
        --size;
    return QString::fromLatin1(line.constData(), size);
}

void appendLines(QWidget* box, const QString& lines, bool first) {
    auto* plain = qobject_cast<QPlainTextEdit*>(box);
    if (!plain)
        return;
    if (first || plain->document()->isEmpty()) {
        // (A box showing one empty line has an empty document.)
        QTextCursor cursor(plain->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(first ? lines : QLatin1Char('\n') + lines);
    } else {
        // The box's own way of adding lines at the end: it redraws the
        // lines that scroll into view, where inserting with a cursor of
        // one's own redraws the whole box.
        plain->appendPlainText(lines);
    }
    caretToEnd(box);
}

void appendText(QWidget* box, const QString& text) {
    QTextDocument* doc = documentOf(box);
    if (!doc || text.isEmpty())
        return;
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

void clearBox(QWidget* box) {
    if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
        plain->clear();
    else if (auto* line = qobject_cast<QLineEdit*>(box))
        line->clear();
}

void forgetEdits(QWidget* box) {
    if (QTextDocument* doc = documentOf(box))
        doc->setUndoRedoEnabled(false);
}

void setText(QWidget* widget, const QString& text) {
    // The same text again is no change: the sender box would otherwise be
    // redrawn for every received line.
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        if (line->text() != text)
            line->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() != text)
            label->setText(text);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget))
        plain->setPlainText(text);
}

} // namespace rava::text
