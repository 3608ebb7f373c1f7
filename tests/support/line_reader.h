#pragma once

#include <QByteArray>
#include <QList>
#include <atomic>
#include <mutex>
#include <thread>

namespace rava::test {

// The far end of a pseudo-terminal read as a serial line carries it: one
// character every `characterNs`, never faster, so that what the station
// writes piles up in the driver and in the station's own queue exactly as
// on a real line. Each run of bytes is kept with the time its first byte
// went onto the line, so the silences between writes can be measured.
class LineReader {
public:
    struct Run {
        qint64 startNs; // first byte on the line (monotonic clock)
        qint64 endNs;   // last byte off the line
        QByteArray bytes;
    };

    LineReader(int fd, qint64 characterNs);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // What came so far, cut into packets wherever the line was silent for
    // at least `silenceNs`.
    QList<Run> packets(qint64 silenceNs) const;
    QByteArray all() const;
    qsizetype size() const;

private:
    void run();

    const int fd_;
    const qint64 characterNs_;
    mutable std::mutex mutex_;
    QList<Run> runs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace rava::test
