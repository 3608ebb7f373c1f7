#include "sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace rava::test {

QString simBinary() {
    const QString path = qEnvironmentVariable("RAVA2_SIM");
    return path.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/rava2-sim")
                          : path;
}

SimProcess::SimProcess(const QStringList& args, const QString& dir)
    : dir_(dir.isEmpty() ? links_.path() : dir), args_(args) {
    args_ << QStringLiteral("--dir") << dir_;
    if (!args.contains(QStringLiteral("--trace")))
        args_ << QStringLiteral("--trace") << work_.filePath(QStringLiteral("trace.txt"));
}

SimProcess::~SimProcess() {
    proc_.kill();
    proc_.waitForFinished(5000);
}

bool SimProcess::start(int timeoutMs) {
    proc_.start(simBinary(), args_);
    QDeadlineTimer deadline(timeoutMs);
    while (proc_.waitForStarted(timeoutMs) && !deadline.hasExpired())
        if (takeLine(int(deadline.remainingTime())) == QLatin1String("ready"))
            return true;
    return false;
}

std::vector<Station> SimProcess::startWithStations(const QStringList& modules) {
    std::vector<Station> stations;
    if (!start())
        return {};
    for (const QString& m : modules)
        if (!stations.emplace_back(openStation(int(stations.size()) + 1,
                                               linkPath(m.section(':', 0, 0)), m.section(':', 1))))
            return {};
    return waitStations(modules) ? std::move(stations) : std::vector<Station>();
}

QString SimProcess::takeLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!proc_.canReadLine() && running() && !deadline.hasExpired())
        proc_.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
    return proc_.canReadLine() ? QString::fromLocal8Bit(proc_.readLine()).chopped(1) : QString();
}

QStringList SimProcess::command(const QString& line, int timeoutMs) {
    send(line);
    QStringList lines;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && running() &&
           !lines.value(lines.size() - 1).startsWith(QLatin1String("ok"))) {
        const QString answer = takeLine(int(deadline.remainingTime()));
        if (!answer.isNull())
            lines << answer;
    }
    return lines;
}

bool SimProcess::waitStations(const QStringList& modules, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
            const QString open =
                '\n' + command(QStringLiteral("stats")).filter(" station=open ").join('\n');
            return std::all_of(modules.begin(), modules.end(), [&](const QString& m) {
                return open.contains("\nstats " + m.section(':', 0, 0) + ' ');
            });
        },
        timeoutMs);
}

void SimProcess::send(const QString& line) {
    proc_.write((line + QLatin1Char('\n')).toLocal8Bit());
    proc_.waitForBytesWritten(1000);
}

QStringList SimProcess::trace() const {
    QFile f(work_.filePath(QStringLiteral("trace.txt")));
    return f.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
               : QStringList();
}

QStringList SimProcess::waitTrace(int count, int timeoutMs) const {
    (void)QTest::qWaitFor([&] { return trace().size() >= count; }, timeoutMs);
    return trace();
}

int SimProcess::stop(int signal, int timeoutMs) {
    if (!running() || ::kill(pid_t(proc_.processId()), signal) != 0 ||
        !proc_.waitForFinished(timeoutMs))
        return -1;
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

Station openStation(int port, const QString& path, const QString& settings) {
    qputenv(QByteArray("RAVA2_COM" + QByteArray::number(port)).constData(), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("station%1").arg(port),
                                              QStringLiteral("the station channel"), 1);
    ch->setPort(port);
    QString error;
    if (!ch->setSettings(settings.isEmpty() ? QStringLiteral("115200,n,8,1") : settings) ||
        !ch->open(&error)) {
        qWarning("%s", qPrintable(error));
        return nullptr;
    }
    return ch;
}

QByteArray receive(Channel& channel, int count, int timeoutMs) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && (count == 0 || got.size() < count)) {
        QTest::qWait(2);
        got += channel.readAll();
    }
    return got;
}

int openRaw(const QString& path, speed_t speed, bool blocking) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_NOCTTY | O_CLOEXEC | (blocking ? 0 : O_NONBLOCK));
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

QByteArray readRaw(int fd, qsizetype count, int timeoutMs) {
    QByteArray got;
    QElapsedTimer quiet;
    quiet.start();
    char buf[65536];
    while (got.size() < count && !quiet.hasExpired(timeoutMs)) {
        pollfd p{fd, POLLIN, 0};
        const size_t want = size_t(qMin<qsizetype>(count - got.size(), sizeof buf));
        const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::read(fd, buf, want) : 0;
        if (n > 0) {
            got.append(buf, n);
            quiet.restart();
        }
    }
    return got;
}

FlatOutWriter::FlatOutWriter(int fd, QByteArray bytes) : bytes_(std::move(bytes)) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this, fd] {
        QElapsedTimer clock;
        clock.start();
        qsizetype at = 0;
        while (at < bytes_.size() && !stop_) {
            const ssize_t n = ::write(fd, bytes_.constData() + at, size_t(bytes_.size() - at));
            pollfd p{fd, POLLOUT, 0};
            if (n > 0)
                at += n;
            else if (errno == EAGAIN || errno == EINTR)
                ::poll(&p, 1, 50);
            else
                break;
        }
        ms_ = clock.elapsed();
    });
}

FlatOutWriter::~FlatOutWriter() {
    stop_ = true;
    thread_.join();
}

QByteArray pattern(qsizetype size) {
    QByteArray p(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        p[i] = char(8 + (i * 7 + i / 241) % 248);
    return p;
}

long memoryKb(qint64 pid, const char* field) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line :
         f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QList<QByteArray>())
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace rava::test
