#include "text_lines.h"

#include <QDir>
#include <QFile>

namespace rava::text {

QByteArray LineSplitter::next() {
    if (atEnd())
        return {};
    const qsizetype cr = bytes_.indexOf('\r', pos_);
    if (cr < 0) {
        QByteArray line = bytes_.mid(pos_);
        pos_ = bytes_.size();
        return line;
    }
    QByteArray line = bytes_.mid(pos_, cr - pos_);
    pos_ = cr + 1;
    if (pos_ < bytes_.size() && bytes_.at(pos_) == '\n')
        ++pos_;
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
