#include "text_lines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

int countLines(const QByteArray& bytes) {
    const char* const data = bytes.constData();
    const qsizetype size = bytes.size();
    int lines = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n')))
            ++lines;
    }
    // The last line needs no terminator.
    if (size > 0 && data[size - 1] != '\n' && data[size - 1] != '\r')
        ++lines;
    return lines;
}

QString shownText(const char* data, qsizetype size) {
    QString text(size, Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '\r') {
            *out++ = QLatin1Char('\n');
            if (i + 1 < size && data[i + 1] == '\n')
                ++i;
        } else {
            *out++ = QChar(c);
        }
    }
    text.truncate(out - text.constData());
    return text;
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

namespace {

QString notAFile(const QString& shown, const QString& kind) {
    return QStringLiteral("Cannot open %1: it is %2, not a text file. Choose a regular file.")
        .arg(shown, kind);
}

#ifdef Q_OS_UNIX
QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}
#endif

} // namespace

QString openRegularFile(const QString& path, QFile& file) {
    file.close();
    const QString shown = QDir::toNativeSeparators(path);
    if (path.isEmpty())
        return QStringLiteral("No text file is selected.");
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("Cannot open the text file %1: it does not exist.").arg(shown);
#ifdef Q_OS_UNIX
    // Look first, so that a device is not even opened (opening a serial
    // port, for one, changes its control lines)...
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return notAFile(shown, kindOf(st.st_mode));
    // ...then open without waiting and look again at what was opened, in
    // case the path was replaced in between.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("Cannot open the text file %1: %2.")
            .arg(shown, QString::fromLocal8Bit(std::strerror(errno)));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return notAFile(shown, kindOf(st.st_mode));
    }
    // Reading a regular file never waits for a writer; reads may block on
    // the disk as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("Cannot open the text file %1: %2.").arg(shown, file.errorString());
    }
#else
    if (!info.isFile())
        return notAFile(shown, info.isDir() ? QStringLiteral("a folder")
                                            : QStringLiteral("not a regular file"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QStringLiteral("Cannot open the text file %1: %2.").arg(shown, file.errorString());
#endif
    return {};
}

FileRead readTextFile(const QString& path) {
    FileRead result;
    const QString shown = QDir::toNativeSeparators(path);
    QFile file;
    result.error = openRegularFile(path, file);
    if (!result.ok())
        return result;
    result.opened = true;
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        result.error =
            QStringLiteral("Cannot read the text file %1: %2.").arg(shown, file.errorString());
    file.close();
    return result;
}

} // namespace rava::text
