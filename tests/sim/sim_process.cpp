#include "sim_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <csignal>

namespace rava::test {

QString simBinary() {
    return qEnvironmentVariable("RAVA2_SIM", QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/rava2-sim"));
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

bool SimProcess::start() {
    proc_.start(simBinary(), args_);
    return readUntil(QStringLiteral("ready")).endsWith(QStringLiteral("ready"));
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

// The lines printed until one starts with `prefix`, the simulator ends, or
// ten seconds pass.
QStringList SimProcess::readUntil(const QString& prefix) {
    QStringList lines;
    QDeadlineTimer deadline(10000);
    while (!lines.value(lines.size() - 1).startsWith(prefix) && !deadline.hasExpired()) {
        if (proc_.canReadLine())
            lines << QString::fromLocal8Bit(proc_.readLine()).chopped(1);
        else if (proc_.state() == QProcess::NotRunning)
            break;
        else
            proc_.waitForReadyRead(50);
    }
    return lines;
}

QStringList SimProcess::command(const QString& lines) {
    proc_.write((lines + QLatin1Char('\n')).toLocal8Bit());
    return readUntil(QStringLiteral("ok"));
}

bool SimProcess::waitStations(const QStringList& modules) {
    return QTest::qWaitFor([&] {
        const QString open =
            '\n' + command(QStringLiteral("stats")).filter(" station=open ").join('\n');
        return std::all_of(modules.begin(), modules.end(), [&](const QString& m) {
            return open.contains("\nstats " + m.section(':', 0, 0) + ' ');
        });
    });
}

QStringList SimProcess::trace(int atLeast) const {
    QStringList lines;
    (void)QTest::qWaitFor([&] {
        QFile f(work_.filePath(QStringLiteral("trace.txt")));
        lines = f.open(QIODevice::ReadOnly)
                    ? QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                    : QStringList();
        return lines.size() >= atLeast;
    });
    return lines;
}

int SimProcess::stop(int signal) {
    if (proc_.state() != QProcess::Running || ::kill(pid_t(proc_.processId()), signal) != 0 ||
        !proc_.waitForFinished(10000))
        return -1;
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

Station openStation(int port, const QString& path, const QString& settings) {
    qputenv(QByteArray("RAVA2_COM" + QByteArray::number(port)).constData(), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("station%1").arg(port),
                                              QStringLiteral("the station channel"), 1);
    ch->setPort(port);
    QString error;
    const std::optional<LineParams> params =
        parseSettings(settings.isEmpty() ? QStringLiteral("115200,n,8,1") : settings);
    if (params)
        ch->setLineParams(*params);
    if (!params || !ch->open(&error)) {
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
