// CPU time of the user-interface thread per received text line, through the
// module simulator: a slave's lines (sent by a thread of their own on the
// slave's link, a few milliseconds apart) arrive at a master, received
//   - by the real window (offscreen), Receive pressed on the "Receive Text
//     file" tab, and
//   - by a bare QPlainTextEdit fed by a bare QSerialPort, the least a
//     program must do to show the same lines,
// alternately, three times each, in the same process. Prints the CPU per line of
// each run and the ratio window / bare.
//
//   bench_text_receive_cpu [LINES] [GAP_MS] [bare|window]
#include "form/messenger.h"
#include "main_window/main_window.h"
#include "sim/sim_process.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtSerialPort/QSerialPort>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace rava;

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

class Quiet : public Messenger {
public:
    void error(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void info(const QString&, const QString&) override {}
};

// Writes `lines` lines to the slave's link, `gapMs` apart, as a slave
// station would (no address byte: the modules add it).
void sendLines(const QString& link, int lines, int gapMs) {
    const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror("slave link");
        return;
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // seen by the simulator
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = "Line " + QByteArray::number(i).rightJustified(5, '0') +
                                " of a received text file, caf\xe9 au lait\r\n";
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    tcdrain(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(fd);
}

// Runs the event loop (sleeping while nothing happens) until `done`.
bool runUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    if (!done())
        loop.exec();
    return done();
}

struct Run {
    double cpuMs = 0;
    int shown = 0;
};

// Measures the thread's CPU from the first line sent until all are shown
// and the box has been drawn.
Run measure(const QString& slaveLink, int lines, int gapMs, const std::function<int()>& shown) {
    const double start = threadCpuMs();
    std::thread sender(sendLines, slaveLink, lines, gapMs);
    runUntil([&] { return shown() >= lines; }, lines * gapMs * 3 + 10000);
    runUntil([] { return false; }, 100); // the last repaint
    Run r{threadCpuMs() - start, shown()};
    sender.join();
    return r;
}

Run bare(const QString& masterLink, const QString& slaveLink, int lines, int gapMs) {
    QPlainTextEdit box;
    box.setReadOnly(true);
    box.resize(505, 265);
    box.show();
    QSerialPort port(masterLink);
    if (!port.open(QIODevice::ReadWrite))
        return {};
    port.setBaudRate(115200);
    QByteArray pending;
    int count = 0;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        pending += port.readAll();
        qsizetype lf;
        while ((lf = pending.indexOf('\n')) >= 0) {
            // address byte, text, CR, LF
            box.appendPlainText(QString::fromLatin1(pending.mid(1, lf - 2)));
            pending.remove(0, lf + 1);
            ++count;
        }
    });
    runUntil([] { return false; }, 200);
    return measure(slaveLink, lines, gapMs, [&] { return count; });
}

Run window(const QString& slaveLink, int lines, int gapMs) {
    MainWindow win;
    Quiet quiet;
    win.setMessenger(&quiet);
    win.show();
    auto* box = win.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
    win.findChild<QPushButton*>(QStringLiteral("Command6"))->click();
    runUntil([] { return false; }, 200);
    const Run r = measure(slaveLink, lines, gapMs, [&] {
        return box->document()->isEmpty() ? 0 : box->document()->blockCount();
    });
    win.findChild<QPushButton*>(QStringLiteral("Command5"))->click();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? atoi(argv[1]) : 1000;
    const int gapMs = argc > 2 ? atoi(argv[2]) : 8;
    // "bare" or "window" runs only that one (for a profiler).
    const QString only = argc > 3 ? QString::fromLatin1(argv[3]) : QString();
    test::SimProcess sim({"--no-pacing", "master=master:0", "slave=slave:7"});
    if (!sim.start()) {
        std::fprintf(stderr, "the simulator did not start (%s)\n", qPrintable(test::simBinary()));
        return 1;
    }
    const QString masterLink = sim.linkPath(QStringLiteral("master"));
    const QString slaveLink = sim.linkPath(QStringLiteral("slave"));
    qputenv("RAVA2_COM1", masterLink.toLocal8Bit());
    std::printf("receive CPU: %d lines from slave 7 to a master, %d ms apart, through the "
                "simulator\n",
                lines, gapMs);
    constexpr int kRounds = 3;
    double sumBare = 0, sumWindow = 0;
    for (int round = 1; round <= kRounds; ++round) {
        const Run b =
            only == QLatin1String("window") ? Run{1, 0} : bare(masterLink, slaveLink, lines, gapMs);
        const Run w = only == QLatin1String("bare") ? Run{1, 0} : window(slaveLink, lines, gapMs);
        std::printf("round %d: bare box %.3f ms/line (%d shown), window %.3f ms/line (%d shown)\n",
                    round, b.cpuMs / lines, b.shown, w.cpuMs / lines, w.shown);
        sumBare += b.cpuMs;
        sumWindow += w.cpuMs;
    }
    std::printf("mean: bare box %.3f ms/line, window %.3f ms/line, ratio window/bare %.2f "
                "(goal <= 1.0)\n",
                sumBare / kRounds / lines, sumWindow / kRounds / lines, sumWindow / sumBare);
    return 0;
}
