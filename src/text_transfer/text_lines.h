#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QFile;

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

// All lines of `bytes`, as LineSplitter gives them, and their number.
QList<QByteArray> splitLines(const QByteArray& bytes);
int countLines(const QByteArray& bytes);

// `size` bytes of a text file as a box shows them: one character per byte
// (Latin-1) and every line end (CR LF, CR, or a lone LF) one '\n'. A CR as
// the last byte counts as a line end of its own, so a piece must not end
// between the CR and the LF of a pair.
QString shownText(const char* data, qsizetype size);

// One line as it goes to the module in one write: on a master the remote
// address byte, the line, CR, LF; on a slave the line, CR, LF.
QByteArray lineOnWire(const QByteArray& line, bool master, int remoteAddress);

// Opens `path` for reading when it is a regular file (or a link to one).
// Anything else (a named pipe, a device such as /dev/zero, a folder, a
// socket) is refused before a byte is read, and nothing here ever waits: a
// named pipe without a writer is looked at without blocking. Returns an
// empty string on success, else a sentence for the user; `file` is then
// closed.
QString openRegularFile(const QString& path, QFile& file);

// A whole file read at once. The file is closed again before this returns,
// whether reading worked or not. On failure `error` is a sentence for the
// user and `bytes` holds whatever could be read before the failure. Only a
// regular file is read (see openRegularFile()).
struct FileRead {
    QByteArray bytes;
    QString error;
    bool opened = false; // false: the failure came before a byte was read
    bool ok() const { return error.isEmpty(); }
};
FileRead readTextFile(const QString& path);

} // namespace rava::text
