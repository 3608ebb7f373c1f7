#include "wire_trace.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rava {

namespace {

struct TraceHolder {
    std::unique_ptr<WireTrace> trace;
    bool decided = false;
};

TraceHolder& holder() {
    static TraceHolder h;
    return h;
}

double monotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Said once per trace, on standard error.
void cannotOpen(const QByteArray& path, const char* why) {
    std::fprintf(stderr,
                 "rava2-demo: the wire trace cannot be written to %s: %s; going on without it\n",
                 path.constData(), why);
}

} // namespace

QByteArray formatTraceLine(double ms, const QString& channel, const char* direction,
                           const QByteArray& bytes) {
    QByteArray line = QByteArray::number(ms, 'f', 3);
    line += ' ';
    line += channel.toLatin1();
    line += ' ';
    line += direction;
    line += ' ';
    line += QByteArray::number(bytes.size());
    line += ' ';
    line += bytes.isEmpty() ? QByteArray("-") : bytes.toHex();
    return line;
}

WireTrace::~WireTrace() {
    if (file_)
        std::fclose(file_);
}

void WireTrace::restart(const QString& path) {
    TraceHolder& h = holder();
    h.trace.reset();
    h.decided = true;
    if (path.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(path);
#ifdef Q_OS_UNIX
    // Never wait for the file: a named pipe without a reader would hold the
    // window at its first port operation. Only a regular file is taken; a
    // missing one is created.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        const bool special =
            error == ENXIO || (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode));
        cannotOpen(name, special ? "it is not a regular file" : std::strerror(error));
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        cannotOpen(name, "it is not a regular file");
        return;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (::ftruncate(fd, 0) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        cannotOpen(name, std::strerror(error));
        return;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (!file)
        ::close(fd);
#else
    std::FILE* file = std::fopen(name.constData(), "w");
#endif
    if (!file) {
        cannotOpen(name, std::strerror(errno));
        return;
    }
    h.trace.reset(new WireTrace(file, name));
}

WireTrace* WireTrace::instance() {
    TraceHolder& h = holder();
    if (!h.decided)
        restart(qEnvironmentVariable("RAVA2_TRACE"));
    return h.trace.get();
}

void WireTrace::record(const QString& channel, const char* direction, const QByteArray& bytes) {
    if (!file_)
        return;
    QByteArray line = formatTraceLine(monotonicMs(), channel, direction, bytes);
    line += '\n';
    errno = 0;
    const bool written =
        std::fwrite(line.constData(), 1, size_t(line.size()), file_) == size_t(line.size()) &&
        std::fflush(file_) == 0;
    if (written)
        return;
    // A full disk or a file size limit: say so once and trace no more.
    std::fprintf(stderr,
                 "rava2-demo: writing the wire trace to %s failed: %s; the trace stops here\n",
                 path_.constData(), errno ? std::strerror(errno) : "unknown error");
    std::fclose(file_);
    file_ = nullptr;
}

} // namespace rava
