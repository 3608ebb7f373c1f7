#include "line_reader.h"

#include "link/line_settings.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

namespace rava::test {

LineReader::LineReader(int fd, qint64 characterNs)
    : fd_(fd), characterNs_(characterNs), thread_([this] { run(); }) {}

LineReader::~LineReader() {
    stop_ = true;
    thread_.join();
}

void LineReader::run() {
    // Ahead of the machine's other work where allowed, so that the line's
    // timing is the writer's and not this thread's waits for a processor.
    sched_param sp{};
    sp.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
    constexpr qint64 kSliceNs = 200000;
    qint64 lineFree = 0;  // when the line has carried every byte taken so far
    bool idle = true;     // the last look found nothing waiting
    qint64 arrivalNs = 0; // when bytes came to an idle line
    char buf[4096];
    while (!stop_) {
        const qint64 now = monotonicNs();
        if (!idle && lineFree > now) {
            const timespec ts{0, long(qMin(lineFree - now, kSliceNs))};
            nanosleep(&ts, nullptr);
            continue;
        }
        // A busy line goes on where it was, crediting the time this thread
        // overslept; an idle one starts when the bytes came.
        const qint64 start = idle ? arrivalNs : lineFree;
        const qint64 n = qBound<qint64>(1, (now - start) / characterNs_ + 1, sizeof buf);
        const ssize_t got = idle && arrivalNs == 0 ? 0 : ::read(fd_, buf, size_t(n));
        if (got > 0) {
            lineFree = start + got * characterNs_;
            // Fewer bytes than the line could have carried: it ran dry.
            idle = got < n;
            arrivalNs = 0;
            std::lock_guard<std::mutex> lock(mutex_);
            runs_.append({start, lineFree, QByteArray(buf, int(got))});
            continue;
        }
        idle = true;
        arrivalNs = 0;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 1) == 1 && (p.revents & POLLIN))
            arrivalNs = qMax(lineFree, monotonicNs());
    }
}

QList<LineReader::Run> LineReader::packets(qint64 silenceNs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    QList<Run> out;
    for (const Run& r : runs_) {
        if (!out.isEmpty() && r.startNs - out.last().endNs < silenceNs) {
            out.last().bytes += r.bytes;
            out.last().endNs = r.endNs;
        } else {
            out.append(r);
        }
    }
    return out;
}

QByteArray LineReader::all() const {
    QByteArray bytes;
    for (const Run& r : packets(0))
        bytes += r.bytes;
    return bytes;
}

qsizetype LineReader::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    qsizetype n = 0;
    for (const Run& r : runs_)
        n += r.bytes.size();
    return n;
}

} // namespace rava::test
