#include "text_lines.h"

#include <QDir>
#include <QFile>

namespace rava::text {

QByteArray LineSplitter::next() {
    if (atEnd())
        return {};
    const char* const data = bytes_.constData();
    const qsizetype size = bytes_.size();
    qsizetype end = pos_;
    while (end < size && data[end] != '\r' && data[end] != '\n')
        ++end;
    QByteArray line(data + pos_, end - pos_);
    pos_ = end;
    if (pos_ < size) {
        // CR LF is one line end; a lone CR or a lone LF is one as well.
        if (data[pos_] == '\r' && pos_ + 1 < size && data[pos_ + 1] == '\n')
            ++pos_;
        ++pos_;
    }
    return line;
}

QList<QByteArray> splitLines(const QByteArray& bytes) {
    QList<QByteArray> lines;
    LineSplitter splitter(bytes);
    while (!splitter.atEnd())
        lines.append(splitter.next());
    return lines;
}

QByteArray lineOnWire(const QByteArray& line, bool master, int remoteAddress) {
    QByteArray wire;
    wire.reserve(line.size() + 3);
    if (master)
        wire.append(static_cast<char>(static_cast<unsigned char>(remoteAddress & 0xFF)));
    wire.append(line);
    wire.append("\r\n", 2);
    return wire;
}

FileRead readTextFile(const QString& path) {
    FileRead result;
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (path.isEmpty()) {
        result.error = QStringLiteral("No text file is selected.");
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.error =
            QStringLiteral("Cannot open the text file %1: %2.").arg(shown, file.errorString());
        return result;
    }
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        result.error =
            QStringLiteral("Cannot read the text file %1: %2.").arg(shown, file.errorString());
    file.close();
    return result;
}

} // namespace rava::text
