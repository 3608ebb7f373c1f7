// Image transfer figures:
// - a file (100 KiB, or --size) sent by a master's ImageSender at 9600,
//   19200, 57600 and 115200 (or --settings with list indices) into a
//   pseudo-terminal whose far end reads at the line's own speed: the packets
//   seen on the line against the writes, the silence between them against a
//   module's packet gap, the interval between hand-overs against the wait
//   asked for (never below it), and the wall time against the ideal (per
//   write the larger of the block gap and its wire time plus the packet gap,
//   and the last-block delay);
// - a 256 KB reception fed at 115200 baud line speed: CPU share of the
//   receiving thread;
// - stripping the address bytes out of a 10 MB master capture, file to file
//   and in memory.
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "link/line_settings.h"
#include "link/serial_channel.h"
#include "link/station_settings.h"
#include "support/line_reader.h"
#include "support/pty.h"

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

struct Spread {
    double min, p50, p99;
};
Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {0, 0, 0};
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
    };
    return {v.front(), at(0.5), at(0.99)};
}

// One send of `size` bytes at line setting `setting` into a terminal whose
// far end reads at the line's own speed.
int benchSend(QCoreApplication& app, const QTemporaryDir& dir, int setting, qint64 size) {
    test::Pty pty;
    if (!pty.valid()) {
        std::perror("pseudo-terminal");
        return 1;
    }
    qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray bytes(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = char((i * 131) >> 3);
        f.write(bytes);
    }
    const LineParams params = kLineSettings[size_t(setting)].params;
    const QString settings = settingsText(params);
    test::LineReader line(pty.fd(), characterNs(params));

    SerialChannel channel(QStringLiteral("MSComm2"), QStringLiteral("the image channel"), 0);
    channel.setLineParams(params);
    StationSettings station;
    station.setMode(Mode::Master);
    station.setRemoteAddress(7);
    station.setLineSetting(setting);
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
    if (rc != 0)
        return rc;

    // The silences on the line, and the intervals between hand-overs
    // against the wait asked for after each write.
    const qint64 packetGap = packetGapNs(params);
    const auto packets = line.packets(packetGap / 2);
    std::vector<double> silences, spacing;
    for (size_t i = 1; i < size_t(packets.size()); ++i)
        silences.push_back(double(packets[i].startNs - packets[i - 1].endNs) / 1e6);
    const qint64 blocks = image::blockCount(size);
    std::vector<double> asked(static_cast<size_t>(blocks), static_cast<double>(gap));
    asked.back() += last;
    for (size_t i = 1; i < handed.size(); ++i)
        spacing.push_back(ms(handed[i] - handed[i - 1]) - asked[i - 1]);
    // Ideal: per write the larger of the block gap and its wire time plus the
    // packet gap, and the last-block delay.
    const double c = double(characterNs(params)) / 1e6;
    double ideal = std::max(double(gap), 6 * c + double(packetGap) / 1e6) + last;
    for (qint64 b = 0; b + 1 < blocks; ++b)
        ideal += std::max(double(gap), 91 * c + double(packetGap) / 1e6);
    const double wall = ms(end - start);
    const Spread sil = spread(silences), sp = spread(spacing);
    std::printf("%s: %lld bytes, %lld blocks (gap %d ms, last-block delay %d ms, packet gap "
                "%.2f ms)\n",
                qPrintable(settings), size, blocks, gap, last, double(packetGap) / 1e6);
    std::printf(
        "  packets on the line %lld of %lld writes; every byte %s\n", qint64(packets.size()),
        qint64(blocks + 1),
        line.all() ==
                [&] {
                    QFile f(path);
                    f.open(QIODevice::ReadOnly);
                    const QByteArray file = f.readAll();
                    QByteArray wire = image::headerOnWire(size, true, 7);
                    for (qint64 at = 0; at < size; at += image::kBlockSize)
                        wire += image::blockOnWire(file.mid(at, image::kBlockSize), true, 7);
                    return wire;
                }()
            ? "right"
            : "WRONG");
    std::printf("  silence between packets: min %.3f ms, p50 %.3f, p99 %.3f (packet gap %.3f)\n",
                sil.min, sil.p50, sil.p99, double(packetGap) / 1e6);
    std::printf("  hand-over interval minus the asked wait: min %+.3f ms, p50 %+.3f, p99 "
                "%+.3f\n",
                sp.min, sp.p50, sp.p99);
    std::printf("  wall %.1f ms, ideal %.1f ms, ratio %.4f; sending thread CPU %.2f %%\n", wall,
                ideal, wall / ideal, 100.0 * (cpuEnd - cpuStart) / wall);
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
    // --size BYTES (default 100 KiB), --settings 0,3,6,9 (list indices).
    qint64 size = kFileSize;
    QList<int> settings{0, 3, 6, 9};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--size"))
            size = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--settings")) {
            settings.clear();
            for (const QString& s : args[i + 1].split(QLatin1Char(',')))
                settings << s.toInt();
        }
    }
    for (int setting : settings)
        if (const int rc = benchSend(app, dir, setting, size))
            return rc;
    if (const int rc = benchReceive(app, dir))
        return rc;
    benchStrip(dir);
    return 0;
}
