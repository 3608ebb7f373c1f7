#include "sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <csignal>

namespace rava::test {

QString simBinary() {
    const QString path = qEnvironmentVariable("RAVA2_SIM");
    return path.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/rava2-sim")
                          : path;
}

SimProcess::SimProcess(const QStringList& args) : args_(args) {
    args_ << QStringLiteral("--dir") << links_.path() << QStringLiteral("--trace")
          << work_.filePath(QStringLiteral("trace.txt"));
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
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QStringList lines = command(QStringLiteral("stats")).filter(" station=open ");
        const QString open = QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
        int seen = 0;
        for (const QString& m : modules)
            seen += open.contains("\nstats " + m.section(':', 0, 0) + ' ');
        if (seen == modules.size() || deadline.hasExpired())
            return seen == modules.size();
        QTest::qWait(10);
    }
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
    QDeadlineTimer deadline(timeoutMs);
    QStringList lines = trace();
    while (lines.size() < count && !deadline.hasExpired()) {
        QTest::qWait(5);
        lines = trace();
    }
    return lines;
}

int SimProcess::stop(int signal, int timeoutMs) {
    if (!running() || ::kill(pid_t(proc_.processId()), signal) != 0 ||
        !proc_.waitForFinished(timeoutMs))
        return -1;
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

Station openStation(int port, const QString& path, const QString& settings) {
    qputenv(QByteArray("RAVA2_COM" + QByteArray::number(port)).constData(), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("station%1").arg(port), QStringLiteral("the station channel"), 1);
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

} // namespace rava::test
