// Image transfer figures on a real pseudo-terminal:
// - a 100 KB file sent by ImageSender at "115200,n,8,1" (block gap 20 ms,
//   last-block delay 30 ms): wall time against the ideal ceil(L/90) x gap +
//   last-block delay, the CPU time of the sending thread as a share of the
//   wall time, and each wait as seen on the line (arrival of each write's
//   first byte, stamped by a thread of its own) and as handed over, against
//   the wait asked for: the smallest and the 99th percentile excess;
// - a 256 KB reception fed at 115200 baud line speed: CPU share of the
//   receiving thread;
// - stripping the address bytes out of a 10 MB master capture, file to file
//   and in memory.
// A pseudo-terminal moves bytes at once, whatever the baud rate, so the
// figures show the timing of the tool itself.
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "link/line_settings.h"
#include "link/serial_channel.h"
#include "link/station_settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace rava;
using Clock = std::chrono::steady_clock;

namespace {

constexpr qint64 kFileSize = 100 * 1024;
constexpr qint64 kReceiveSize = 256 * 1024;
constexpr qint64 kCaptureSize = 10 * 1024 * 1024;
constexpr int kSetting = 9; // "115200,none,8,1"

double threadCpuMs() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Excess {
    double min, median, p99, max;
};

// Skips the waits whose two ends were stamped by one read (`together`):
// a reader woken late cannot tell them apart.
Excess excess(const std::vector<Clock::time_point>& t, const std::vector<double>& asked,
              const std::vector<bool>& together = {}) {
    std::vector<double> e;
    for (size_t i = 1; i < t.size() && i - 1 < asked.size(); ++i)
        if (i >= together.size() || !together[i])
            e.push_back(ms(t[i] - t[i - 1]) - asked[i - 1]);
    std::sort(e.begin(), e.end());
    if (e.empty())
        return {0, 0, 0, 0};
    auto at = [&](double q) {
        return e[std::min(e.size() - 1, size_t(q * double(e.size() - 1) + 0.5))];
    };
    return {e.front(), at(0.5), at(0.99), e.back()};
}

void print(const char* what, const Excess& s) {
    std::printf("  %-24s min %+7.3f  median %+7.3f  p99 %+7.3f  max %+7.3f ms\n", what, s.min,
                s.median, s.p99, s.max);
}

int openPty(QByteArray& path) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    path = ptsname(fd);
    return fd;
}

bool realTime() {
    sched_param prio{};
    prio.sched_priority = sched_get_priority_min(SCHED_FIFO);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &prio) == 0;
}

int benchSend(QCoreApplication& app, const QTemporaryDir& dir) {
    QByteArray ptyPath;
    const int fd = openPty(ptyPath);
    if (fd < 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    qputenv("RAVA2_COM1", ptyPath);
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray bytes(kFileSize, Qt::Uninitialized);
        for (qint64 i = 0; i < kFileSize; ++i)
            bytes[i] = char((i * 131) >> 3);
        f.write(bytes);
    }
    const qint64 header = image::headerOnWire(kFileSize, false, 0).size();

    // Arrival of each write's first byte.
    std::vector<Clock::time_point> arrivals;
    std::vector<bool> together; // arrived in the same read as the one before
    arrivals.reserve(size_t(image::blockCount(kFileSize)) + 1);
    std::atomic<bool> stop{false};
    std::atomic<bool> realTimeReader{false};
    std::thread reader([&] {
        realTimeReader = realTime();
        qint64 seen = 0, next = 0;
        char buf[4096];
        while (!stop.load()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const auto now = Clock::now();
            const ssize_t n = ::read(fd, buf, sizeof buf);
            bool first = true;
            for (qint64 end = seen + std::max<ssize_t>(n, 0); next < end;) {
                arrivals.push_back(now);
                together.push_back(!first);
                first = false;
                next = next == 0 ? header : next + image::kBlockSize;
            }
            seen += std::max<ssize_t>(n, 0);
        }
    });

    SerialChannel channel(QStringLiteral("MSComm2"), QStringLiteral("the image channel"), 0);
    channel.setLineParams(kLineSettings[kSetting].params);
    StationSettings station;
    station.setMode(Mode::Slave);
    station.setLineSetting(kSetting);
    const int gap = station.blockGapMs();
    const int last = station.lastBlockDelayMs();
    image::ImageSender sender(channel, station);
    std::vector<Clock::time_point> handed;
    QObject::connect(&sender, &image::ImageSender::started,
                     [&](qint64) { handed.push_back(Clock::now()); });
    QObject::connect(&sender, &image::ImageSender::progress,
                     [&](qint64) { handed.push_back(Clock::now()); });
    QObject::connect(&sender, &image::ImageSender::failed,
                     [](image::SendFailure, const QString& m) {
                         std::fprintf(stderr, "send failed: %s\n", qPrintable(m));
                     });
    Clock::time_point start, end;
    double cpuStart = 0, cpuEnd = 0;
    QObject::connect(&sender, &image::ImageSender::finished, &app, [&](bool ok) {
        end = Clock::now();
        cpuEnd = threadCpuMs();
        QTimer::singleShot(200, &app, [&app, ok] { app.exit(ok ? 0 : 1); });
    });
    QTimer::singleShot(0, &app, [&] {
        start = Clock::now();
        cpuStart = threadCpuMs();
        if (!sender.send(path))
            app.exit(1);
    });
    const int rc = app.exec();
    stop = true;
    reader.join();
    ::close(fd);
    if (rc != 0)
        return rc;

    // The wait asked for after each write: a block gap, and before the last
    // block also the last-block delay.
    std::vector<double> asked(size_t(image::blockCount(kFileSize)), double(gap));
    asked.back() += last;
    const double wall = ms(end - start);
    const double ideal = double(image::plannedWaitMs(kFileSize, gap, last));
    std::printf("Send of %lld bytes at 115200 (gap %d ms, last-block delay %d ms), %zu writes:\n",
                kFileSize, gap, last, handed.size());
    std::printf("  wall %.1f ms, ideal %.0f ms, ratio %.4f\n", wall, ideal, wall / ideal);
    std::printf("  CPU of the sending thread %.1f ms = %.2f %% of the wall time\n",
                cpuEnd - cpuStart, 100.0 * (cpuEnd - cpuStart) / wall);
    std::printf("  wait excess (actual - asked), %zu waits:\n", asked.size());
    print("handed over", excess(handed, asked));
    const auto joined = size_t(std::count(together.begin(), together.end(), true));
    print("arrived on the line", excess(arrivals, asked, together));
    std::printf("  (line stamps by a %s reader; %zu writes came in one read with the one "
                "before and are left out)\n",
                realTimeReader ? "real-time" : "normal-priority", joined);
    return 0;
}

int benchReceive(QCoreApplication& app, const QTemporaryDir& dir) {
    QByteArray ptyPath;
    const int fd = openPty(ptyPath);
    if (fd < 0)
        return 1;
    qputenv("RAVA2_COM1", ptyPath);
    qputenv("RAVA2_TEMP_DIR", QFile::encodeName(dir.path()));
    SerialChannel channel(QStringLiteral("MSComm2"), QStringLiteral("the image channel"), 0);
    channel.setLineParams(kLineSettings[kSetting].params);
    StationSettings station;
    station.setMode(Mode::Slave);
    station.setLineSetting(kSetting);
    image::ImageReceiver receiver(channel, station);
    double cpuStart = 0, cpuEnd = 0;
    Clock::time_point start, end;
    image::Reception result;
    int events = 0;
    QObject::connect(&receiver, &image::ImageReceiver::progress, [&](qint64) { ++events; });
    QObject::connect(&receiver, &image::ImageReceiver::finished, &app,
                     [&](const image::Reception& r) {
                         end = Clock::now();
                         cpuEnd = threadCpuMs();
                         result = r;
                         app.exit(0);
                     });
    std::thread feeder;
    QTimer::singleShot(0, &app, [&] {
        if (!receiver.receive()) {
            app.exit(1);
            return;
        }
        start = Clock::now();
        cpuStart = threadCpuMs();
        feeder = std::thread([fd] {
            // 115200 baud, 10 bits a byte: 11,520 bytes a second, fed every 5 ms.
            const QByteArray head = image::headerOnWire(kReceiveSize, false, 0);
            (void)!::write(fd, head.constData(), size_t(head.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const auto t0 = Clock::now();
            qint64 sent = 0;
            char chunk[4096];
            std::fill(std::begin(chunk), std::end(chunk), 'x');
            while (sent < kReceiveSize) {
                const double due = ms(Clock::now() - t0) * 11.52;
                qint64 n = std::min<qint64>(qint64(due) - sent, kReceiveSize - sent);
                n = std::min<qint64>(n, sizeof chunk);
                if (n > 0) {
                    const ssize_t w = ::write(fd, chunk, size_t(n));
                    if (w > 0)
                        sent += w;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    });
    const int rc = app.exec();
    if (feeder.joinable())
        feeder.join();
    ::close(fd);
    if (rc != 0)
        return rc;
    const double wall = ms(end - start);
    std::printf("Reception of %lld bytes fed at 115200 line speed: %d data events, stored %lld\n",
                kReceiveSize, events, result.stored);
    std::printf("  wall %.1f ms, CPU of the receiving thread %.1f ms = %.2f %%\n", wall,
                cpuEnd - cpuStart, 100.0 * (cpuEnd - cpuStart) / wall);
    return 0;
}

void benchStrip(const QTemporaryDir& dir) {
    QByteArray data(kCaptureSize, Qt::Uninitialized);
    for (qint64 i = 0; i < kCaptureSize; ++i)
        data[i] = char(i * 7);
    QByteArray capture;
    capture.reserve(kCaptureSize + kCaptureSize / 90 + 1);
    for (qint64 i = 0; i < kCaptureSize; i += 90) {
        capture.append('\x07');
        capture.append(data.constData() + i, qsizetype(std::min<qint64>(90, kCaptureSize - i)));
    }
    const QString inPath = dir.filePath(QStringLiteral("capture.bin"));
    const QString outPath = dir.filePath(QStringLiteral("stripped.bin"));
    {
        QFile f(inPath);
        f.open(QIODevice::WriteOnly);
        f.write(capture);
    }
    QElapsedTimer t;
    QFile in(inPath), out(outPath);
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::ReadWrite | QIODevice::Truncate);
    t.start();
    const qint64 n = image::stripAddressBytes(in, out);
    out.flush();
    const double fileMs = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    const QByteArray stripped = image::stripAddressBytes(capture);
    const double memMs = double(t.nsecsElapsed()) / 1e6;
    std::printf("Stripping a %lld-byte master capture to %lld bytes: file to file %.1f ms, "
                "in memory %.1f ms (%s)\n",
                qint64(capture.size()), n, fileMs, memMs,
                stripped == data ? "result checked" : "RESULT WRONG");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (const int rc = benchSend(app, dir))
        return rc;
    if (const int rc = benchReceive(app, dir))
        return rc;
    benchStrip(dir);
    return 0;
}
