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

// Appends `lines` (each ending in '\n') at the end in one edit and moves
// the caret there, so the last line is in view. Costs the same however long
// the text already is.
void appendLines(QWidget* box, const QString& lines);
// Appends `text` (lines each ending in '\n') at the end without moving the
// caret or the view.
void appendText(QWidget* box, const QString& text);
void clearBox(QWidget* box);
// Stops the box from keeping an undo history of what the program wrote.
void forgetEdits(QWidget* box);

// Sets the text of a one-line box or a label.
void setText(QWidget* widget, const QString& text);

} // namespace rava::text
