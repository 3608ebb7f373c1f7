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
    if (running()) {
        proc_.kill();
        proc_.waitForFinished(5000);
    }
}

bool SimProcess::start(int timeoutMs) {
    proc_.start(simBinary(), args_);
    if (!proc_.waitForStarted(timeoutMs))
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString line = takeLine(int(deadline.remainingTime()));
        if (line == QLatin1String("ready"))
            return true;
        if (line.isNull() && !running())
            return false;
    }
    return false;
}

QString SimProcess::takeLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int nl = out_.indexOf('\n');
        if (nl >= 0) {
            const QString line = QString::fromLocal8Bit(out_.left(nl));
            out_.remove(0, nl + 1);
            return line;
        }
        if (deadline.hasExpired() || !running())
            return {};
        proc_.waitForReadyRead(int(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
        out_ += proc_.readAllStandardOutput();
    }
}

QString SimProcess::linkPath(const QString& module) const {
    return links_.filePath(module);
}

QString SimProcess::command(const QString& line, int timeoutMs) {
    const QStringList lines = exchange(line, timeoutMs);
    return lines.isEmpty() || !lines.last().startsWith(QLatin1String("ok")) ? QString()
                                                                            : lines.last();
}

QStringList SimProcess::exchange(const QString& line, int timeoutMs) {
    send(line);
    QStringList lines;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString answer = takeLine(int(deadline.remainingTime()));
        if (answer.isNull()) {
            if (!running())
                break;
            continue;
        }
        lines << answer;
        if (answer.startsWith(QLatin1String("ok")))
            break;
    }
    return lines;
}

QString SimProcess::stats(const QString& module) {
    const QString prefix = QStringLiteral("stats %1 ").arg(module);
    for (const QString& l : exchange(QStringLiteral("stats")))
        if (l.startsWith(prefix))
            return l;
    return {};
}

bool SimProcess::waitStations(const QStringList& modules, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QStringList lines = exchange(QStringLiteral("stats"));
        int open = 0;
        for (const QString& m : modules)
            for (const QString& l : lines)
                if (l.startsWith(QStringLiteral("stats %1 ").arg(m)) &&
                    l.contains(QLatin1String(" station=open ")))
                    ++open;
        if (open == modules.size())
            return true;
        QTest::qWait(10);
    }
    return false;
}

void SimProcess::send(const QString& line) {
    proc_.write((line + QLatin1Char('\n')).toLocal8Bit());
    proc_.waitForBytesWritten(1000);
}

QString SimProcess::errors() {
    err_ += proc_.readAllStandardError();
    return QString::fromLocal8Bit(err_);
}

QStringList SimProcess::trace() const {
    QFile f(work_.filePath(QStringLiteral("trace.txt")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
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
    if (!running())
        return -1;
    ::kill(pid_t(proc_.processId()), signal);
    if (!proc_.waitForFinished(timeoutMs))
        return -1;
    err_ += proc_.readAllStandardError();
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

std::unique_ptr<SerialChannel> openStation(int port, const QString& path, const QString& settings) {
    qputenv(QByteArray("RAVA2_COM" + QByteArray::number(port)).constData(), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("station%1").arg(port), 4096, 4096, 1);
    ch->setPort(port);
    if (!ch->setSettings(settings))
        return nullptr;
    QString error;
    if (!ch->open(&error)) {
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
