#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace rava::text {

// Hands out the lines of a text file one by one. A line ends at a carriage
// return, at a carriage return followed by a line feed, or at a line feed
// on its own (a Unix text file); the terminator is not part of the line.
// The last line needs no terminator, empty lines are kept and an empty file
// has no lines. Every byte is one character, so nothing is decoded.
class LineSplitter {
public:
    LineSplitter() = default;
    explicit LineSplitter(QByteArray bytes) : bytes_(std::move(bytes)) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    // The next line; an empty array once atEnd().
    QByteArray next();

private:
    QByteArray bytes_;
    qsizetype pos_ = 0;
};

// All lines of `bytes`, as LineSplitter gives them.
QList<QByteArray> splitLines(const QByteArray& bytes);

// One line as it goes to the module in one write: on a master the remote
// address byte, the line, CR, LF; on a slave the line, CR, LF.
QByteArray lineOnWire(const QByteArray& line, bool master, int remoteAddress);

// A whole file read at once. The file is closed again before this returns,
// whether reading worked or not. On failure `error` is a sentence for the
// user and `bytes` holds whatever could be read before the failure.
struct FileRead {
    QByteArray bytes;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
FileRead readTextFile(const QString& path);

} // namespace rava::text
