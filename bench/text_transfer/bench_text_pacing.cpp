// Pacing of a text send on a real pseudo-terminal: a 500-line file sent by
// TextSender at "57600,n,8,1" (pacing interval 50 ms) while a separate
// thread stamps the arrival of each line's first byte on the other end.
// Prints the spacing of consecutive arrivals. A pseudo-terminal moves bytes
// at once, whatever the baud rate, so the figures show the timing of the
// sender itself.
#include "link/line_settings.h"
#include "link/serial_channel.h"
#include "link/station_settings.h"
#include "text_transfer/text_sender.h"

#include <QCoreApplication>
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
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace rava;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLines = 500;
constexpr int kSetting = 6; // "57600,none,8,1"

struct Stats {
    double min, median, p99, max, mean;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v)
        sum += x;
    auto at = [&](double q) {
        return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
    };
    return {v.front(), at(0.5), at(0.99), v.back(), sum / double(v.size())};
}

void print(const char* what, const Stats& s) {
    std::printf("%-28s min %7.3f  median %7.3f  p99 %7.3f  max %7.3f  mean %7.3f ms\n", what, s.min,
                s.median, s.p99, s.max, s.mean);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    qputenv("RAVA2_COM1", ptsname(master));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < kLines; ++i)
            f.write(QByteArray("Line ") + QByteArray::number(i).rightJustified(4, '0') +
                    " of the pacing benchmark, some forty bytes\r\n");
    }

    // Arrival of each line's first byte, stamped by a thread of its own.
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(kLines);
    std::atomic<bool> stop{false};
    std::atomic<bool> realTime{false};
    std::thread reader([&] {
        // Woken late, the reader would stamp a line late and make the next
        // gap look short: ask for real-time priority where that is allowed.
        sched_param prio{};
        prio.sched_priority = sched_get_priority_min(SCHED_FIFO);
        realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &prio) == 0;
        bool atLineStart = true;
        char buf[4096];
        while (!stop.load()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const auto now = Clock::now();
            const ssize_t n = ::read(master, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (atLineStart)
                    arrivals.push_back(now);
                atLineStart = (buf[i] == '\n');
            }
        }
    });

    const LineSetting& setting = kLineSettings[kSetting];
    SerialChannel channel(QStringLiteral("MSComm1"), QStringLiteral("the text channel"), 0);
    channel.setLineParams(setting.params);
    std::vector<Clock::time_point> handedOver;
    handedOver.reserve(kLines);
    StationSettings station;
    station.setMode(Mode::Slave);
    station.setLineSetting(kSetting);
    text::TextSender sender(channel, station);
    QObject::connect(&sender, &text::TextSender::lineWritten,
                     [&](int) { handedOver.push_back(Clock::now()); });
    QObject::connect(&sender, &text::TextSender::failed, [](text::SendFailure, const QString& m) {
        std::fprintf(stderr, "send failed: %s\n", qPrintable(m));
    });
    QObject::connect(&sender, &text::TextSender::finished, &app, [&](bool ok) {
        // Give the last bytes a moment to arrive, then stop.
        QTimer::singleShot(200, &app, [&app, ok] { app.exit(ok ? 0 : 1); });
    });
    QTimer::singleShot(0, &app, [&] {
        if (!sender.send(path))
            app.exit(1);
    });
    const auto start = Clock::now();
    const int rc = app.exec();
    const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    stop = true;
    reader.join();
    ::close(master);
    if (rc != 0)
        return rc;

    auto spacing = [](const std::vector<Clock::time_point>& t) {
        std::vector<double> d;
        for (size_t i = 1; i < t.size(); ++i)
            d.push_back(std::chrono::duration<double, std::milli>(t[i] - t[i - 1]).count());
        return d;
    };
    const std::vector<double> arrived = spacing(arrivals);
    const std::vector<double> handed = spacing(handedOver);
    std::printf("text pacing: %d lines at %s, pacing interval %d ms, %zu lines arrived, "
                "%.0f ms in all; reader thread %s\n",
                kLines, qPrintable(settingsText(setting.params)), setting.pacingMs, arrivals.size(),
                total, realTime ? "real-time" : "normal priority");
    if (arrived.empty())
        return 1;
    print("arrival spacing", stats(arrived));
    print("hand-over spacing", stats(handed));
    const auto below = std::count_if(arrived.begin(), arrived.end(),
                                     [&](double d) { return d < setting.pacingMs; });
    const auto over = std::count_if(arrived.begin(), arrived.end(),
                                    [&](double d) { return d > setting.pacingMs + 1; });
    // A short gap right after a long one means one line arrived late, not
    // that the pause was cut short.
    const auto shortest = std::min_element(arrived.begin(), arrived.end()) - arrived.begin();
    if (shortest > 0)
        std::printf("shortest arrival gap %.3f ms follows a gap of %.3f ms\n",
                    arrived[size_t(shortest)], arrived[size_t(shortest) - 1]);
    std::printf("arrivals closer than %d ms: %ld; more than %d ms apart: %ld of %zu\n",
                setting.pacingMs, long(below), setting.pacingMs + 1, long(over), arrived.size());
    return 0;
}
