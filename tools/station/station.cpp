#include "station.h"

#include "link/device_map.h"
#include "link_test/probe.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace rava::station {

namespace {

int signalPipe[2] = {-1, -1};

void onSigint(int) {
    const char c = 1;
    // Nothing else is safe in a handler; a full pipe already carries the news.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

double rounded(double v, int decimals) {
    const double f = std::pow(10.0, decimals);
    return std::round(v * f) / f;
}

Output::Output(const Options& options) : options_(options) {
    terminal_ = ::isatty(STDOUT_FILENO) == 1;
    started_.start();
}

void Output::progress(const QString& text) {
    if (!terminal_ || options_.json || options_.quiet || started_.elapsed() < 1000)
        return;
    if (lastProgress_.isValid() && lastProgress_.elapsed() < 100)
        return;
    lastProgress_.start();
    std::fprintf(stdout, "\r\033[K%s", qPrintable(text));
    std::fflush(stdout);
    progressShown_ = true;
}

void Output::clearProgress() {
    if (!progressShown_)
        return;
    std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
    progressShown_ = false;
}

void Output::summary(const QString& line) {
    if (options_.json || options_.quiet)
        return;
    clearProgress();
    std::FILE* to = summaryToStderr_ ? stderr : stdout;
    std::fprintf(to, "%s\n", line.toLocal8Bit().constData());
    std::fflush(to);
}

void Output::error(const QString& text) {
    clearProgress();
    std::fprintf(stderr, "rava2-station: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Output::json(QJsonObject fields, bool ok) {
    if (!options_.json)
        return;
    fields.insert(QStringLiteral("version"), QStringLiteral(RAVA2_VERSION));
    fields.insert(QStringLiteral("command"), options_.verb);
    fields.insert(QStringLiteral("ok"), ok);
    std::fprintf(stdout, "%s\n", QJsonDocument(fields).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

Station::Station(const Options& options, QObject* parent)
    : QObject(parent), options_(options), out_(options) {
    settings_.setMode(options.slave ? Mode::Slave : Mode::Master);
    settings_.setRemoteAddress(options.remote);
    settings_.setLineSetting(options.lineSetting);
    if (!options.port.isEmpty()) {
        // A device named outright stands for COM 1 and wins over any
        // choice for it, as RAVA2_COM1 does in the window.
        port_ = 1;
        qputenv(portVariable(port_).toLatin1().constData(), options.port.toLocal8Bit());
    } else if (options.com > 0) {
        port_ = options.com;
    }
    settings_.setPort(port_);
    link_ = new StationLink(settings_, this);
    // Register programming uses the station's own device here.
    link_->programmingChannel().setPort(port_);

    if (::pipe(signalPipe) == 0) {
        ::fcntl(signalPipe[0], F_SETFL, O_NONBLOCK);
        ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
        notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Station::onSignal);
        struct sigaction sa = {};
        sa.sa_handler = onSigint;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
}

Station::~Station() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    delete notifier_;
    for (int& fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

LineParams Station::lineParams() const {
    return settings_.lineParams().value_or(LineParams());
}

QString Station::lineShown() const {
    return QString::fromLatin1(kLineSettings[size_t(options_.lineSetting)].shown);
}

void Station::onSignal() {
    char buf[16];
    while (::read(signalPipe[0], buf, sizeof buf) > 0) {
    }
    if (interrupted_)
        return;
    interrupted_ = true;
    if (interrupt_)
        interrupt_();
    else
        exit(kInterrupted);
}

void Station::exit(int code) {
    out_.clearProgress();
    QCoreApplication::exit(code);
}

int Station::run() {
    return QCoreApplication::exec();
}

QJsonObject rttJson(const QList<double>& sortedMs) {
    QJsonObject o;
    if (sortedMs.isEmpty()) {
        o.insert(QStringLiteral("min"), QJsonValue());
        o.insert(QStringLiteral("median"), QJsonValue());
        o.insert(QStringLiteral("p99"), QJsonValue());
        return o;
    }
    o.insert(QStringLiteral("min"), rounded(sortedMs.first(), 3));
    o.insert(QStringLiteral("median"), rounded(linktest::percentile(sortedMs, 0.5), 3));
    o.insert(QStringLiteral("p99"), rounded(linktest::percentile(sortedMs, 0.99), 3));
    return o;
}

QString rttText(const QList<double>& sortedMs) {
    if (sortedMs.isEmpty())
        return QStringLiteral("no round trip");
    return QStringLiteral("round trip min %1 ms, median %2 ms, p99 %3 ms")
        .arg(sortedMs.first(), 0, 'f', 2)
        .arg(linktest::percentile(sortedMs, 0.5), 0, 'f', 2)
        .arg(linktest::percentile(sortedMs, 0.99), 0, 'f', 2);
}

} // namespace rava::station
