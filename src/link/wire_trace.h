#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

namespace rava {

// A record of what crosses the serial lines, for reading beside the module
// simulator's own trace: one line per write and per receive event,
//
//   <monotonic ms, 3 decimals> <channel> <out|in> <length> <bytes in hex>
//
// e.g. "5012.347 text out 5 0541420d0a". The time is the system's monotonic
// clock, the one the simulator's trace counts on too. The trace is on only
// when the environment names a file in RAVA2_TRACE; otherwise instance() is
// null and nothing is done.
//
// The file must be a regular one (created when missing, emptied): it is
// opened without waiting, so a named pipe or a device is refused rather
// than left to hold the window. A trace that cannot be opened, or whose
// writing fails later, is reported once on standard error
// ("rava2-demo: ...") and the tool goes on without it.
class WireTrace {
public:
    static WireTrace* instance();
    ~WireTrace();

    void record(const QString& channel, const char* direction, const QByteArray& bytes);

    // For tests: the trace goes to `path` from now on (empty: off).
    static void restart(const QString& path);

private:
    WireTrace(std::FILE* file, const QByteArray& path) : file_(file), path_(path) {}
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;
    std::FILE* file_; // null once writing failed
    QByteArray path_;
};

// One line of the trace, without the line break.
QByteArray formatTraceLine(double monotonicMs, const QString& channel, const char* direction,
                           const QByteArray& bytes);

} // namespace rava
