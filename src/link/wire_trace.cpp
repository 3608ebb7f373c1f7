#include "wire_trace.h"

#include <chrono>
#include <memory>

namespace rava {

namespace {

struct TraceHolder {
    std::unique_ptr<WireTrace> trace;
    std::FILE* file = nullptr;
    bool decided = false;
    ~TraceHolder() {
        if (file)
            std::fclose(file);
    }
};

TraceHolder& holder() {
    static TraceHolder h;
    return h;
}

double monotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
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

void WireTrace::restart(const QString& path) {
    TraceHolder& h = holder();
    h.trace.reset();
    if (h.file)
        std::fclose(h.file);
    h.file = nullptr;
    h.decided = true;
    if (path.isEmpty())
        return;
    h.file = std::fopen(path.toLocal8Bit().constData(), "w");
    if (!h.file) {
        std::fprintf(stderr, "rava2-demo: cannot write the wire trace to %s\n",
                     path.toLocal8Bit().constData());
        return;
    }
    h.trace.reset(new WireTrace(h.file));
}

WireTrace* WireTrace::instance() {
    TraceHolder& h = holder();
    if (!h.decided)
        restart(qEnvironmentVariable("RAVA2_TRACE"));
    return h.trace.get();
}

void WireTrace::record(const QString& channel, const char* direction, const QByteArray& bytes) {
    const QByteArray line = formatTraceLine(monotonicMs(), channel, direction, bytes);
    std::fwrite(line.constData(), 1, size_t(line.size()), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

} // namespace rava
