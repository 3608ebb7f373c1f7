#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QWidget;

namespace rava::text {

// The text of one line as a box shows it: one character per byte (Latin-1,
// so 0xE9 is "é"), without the carriage return a received line ends with.
QString displayText(const QByteArray& line);

// The multi-line boxes are QPlainTextEdit; the helpers below ignore any
// other widget.

// Appends `lines` (one or more lines joined by '\n') below the box's last
// line, or as its first lines when `first`, in one edit, and moves the
// caret to the end so that the last line is in view. The box redraws only
// what scrolls into view, and the cost does not grow with its text.
void appendLines(QWidget* box, const QString& lines, bool first);
// Appends `text` (lines each ending in '\n') at the end without moving the
// caret or the view.
void appendText(QWidget* box, const QString& text);
void clearBox(QWidget* box);
// Stops the box from keeping an undo history of what the program wrote.
void forgetEdits(QWidget* box);

// Sets the text of a one-line box or a label.
void setText(QWidget* widget, const QString& text);

} // namespace rava::text
