// Opening a 50 MB text file in the "Send Text file" tab of the real window
// (offscreen): the time until Send is offered, the longest gap between two
// repaints of the window while the file loads, and the growth of the peak
// memory. Next to it, in a process of its own, a bare QPlainTextEdit given
// the same text with setPlainText(): the window's budget is that box's
// growth plus the file's own bytes (which the window keeps for Send).
//
//   bench_text_open_large [MB]          both runs, each in a fresh process
//   bench_text_open_large bare FILE     the bare box only
//   bench_text_open_large window FILE   the window only
#include "form/messenger.h"
#include "main_window/main_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <vector>

using namespace rava;

namespace {

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A speck of the window that asks to be drawn again every few milliseconds
// and notes when it is: the gaps are how long the window could not draw.
class Probe : public QWidget {
public:
    explicit Probe(QWidget* parent) : QWidget(parent) {
        setGeometry(0, 0, 2, 2);
        clock.start();
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, this, [this] { update(); });
        ticker.start();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), Qt::black);
        painted.push_back(clock.nsecsElapsed());
    }
    // Longest gap between paints in [from, to] (ns), the ends included.
    double longestGapMs(qint64 from, qint64 to) const {
        qint64 last = from, gap = 0;
        for (qint64 t : painted) {
            if (t < from || t > to)
                continue;
            gap = qMax(gap, t - last);
            last = t;
        }
        return double(qMax(gap, to - last)) / 1e6;
    }
    QElapsedTimer clock;
    QTimer ticker;
    std::vector<qint64> painted;
};

class Quiet : public Messenger {
public:
    void error(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    void info(const QString&, const QString&) override {}
};

// Runs the event loop (sleeping while nothing happens) until `done` or
// `ms` milliseconds have passed.
void runFor(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start();
    if (!done())
        loop.exec();
}

int runBare(const QString& path) {
    QPlainTextEdit box;
    box.setReadOnly(true);
    box.setLineWrapMode(QPlainTextEdit::NoWrap);
    box.resize(505, 265);
    box.show();
    runFor(100);
    const long before = peakKiB();
    QElapsedTimer clock;
    clock.start();
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        QString text = QString::fromLatin1(f.readAll());
        box.setPlainText(text);
    }
    runFor(0);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    runFor(100);
    std::printf("RESULT bare ms %.0f peak_growth_kib %ld blocks %d\n", ms, peakKiB() - before,
                box.document()->blockCount());
    return 0;
}

int runWindow(const QString& path) {
    MainWindow win;
    Quiet quiet;
    win.setMessenger(&quiet);
    win.setFileChooser([&](const QString&, const QString&) { return path; });
    auto* open = win.findChild<QPushButton*>(QStringLiteral("Command3"));
    auto* send = win.findChild<QPushButton*>(QStringLiteral("Command4"));
    auto* box = win.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    Probe probe(&win);
    probe.raise();
    win.show();
    runFor(200);
    const long before = peakKiB();
    const qint64 from = probe.clock.nsecsElapsed();
    open->click();
    runFor(120000, [&] { return send->isEnabled(); });
    const qint64 to = probe.clock.nsecsElapsed();
    runFor(100);
    std::printf("RESULT window ms %.0f peak_growth_kib %ld blocks %d longest_repaint_gap_ms %.1f "
                "repaints %zu\n",
                double(to - from) / 1e6, peakKiB() - before, box->document()->blockCount(),
                probe.longestGapMs(from, to), probe.painted.size());
    return send->isEnabled() ? 0 : 1;
}

QString child(const char* mode, const QString& path) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(mode), path});
    p.waitForFinished(300000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

double field(const QString& result, const QString& key) {
    const QStringList f = result.split(QLatin1Char(' '));
    const int i = int(f.indexOf(key));
    return i >= 0 && i + 1 < f.size() ? f[i + 1].toDouble() : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("bare"))
        return runBare(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("window"))
        return runWindow(args[2]);

    const int mb = args.size() > 1 ? args[1].toInt() : 50;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        // Lines of 20 to 100 characters with CR LF, a few empty ones.
        QByteArray chunk;
        for (int i = 0; chunk.size() < (1 << 20); ++i) {
            QByteArray line = QByteArray::number(i) + ' ';
            for (int k = 0; k < 20 + (i * 37) % 80; ++k)
                line.append(char('a' + (i + k) % 26));
            chunk += (i % 17 == 5 ? QByteArray() : line) + "\r\n";
        }
        for (qint64 written = 0; written < qint64(mb) << 20; written += chunk.size())
            f.write(chunk);
    }
    const qint64 size = QFileInfo(path).size();
    std::printf("open a %.1f MB text file (%lld bytes) in the Send Text file tab\n",
                double(size) / (1 << 20), size);
    const QString bare = child("bare", path);
    const QString window = child("window", path);
    std::printf("%s\n%s\n", qPrintable(bare), qPrintable(window));
    const double budget = field(bare, QStringLiteral("peak_growth_kib")) + double(size) / 1024;
    const double used = field(window, QStringLiteral("peak_growth_kib"));
    std::printf("window: %.0f ms to load, longest repaint gap %.1f ms (goal <= 100)\n",
                field(window, QStringLiteral("ms")),
                field(window, QStringLiteral("longest_repaint_gap_ms")));
    std::printf("peak memory growth: window %.0f MiB, budget %.0f MiB (bare box %.0f MiB + file "
                "%.0f MiB): %.2f of the budget\n",
                used / 1024, budget / 1024, field(bare, QStringLiteral("peak_growth_kib")) / 1024,
                double(size) / (1 << 20), used / budget);
    return 0;
}
