#pragma once

#include "link/serial_channel.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace rava::test {

using Station = std::unique_ptr<SerialChannel>;

// The module simulator running as a child process, with its links in a
// private directory and its trace in a file.
class SimProcess {
public:
    // `args` are the options and modules; --dir and --trace are added.
    explicit SimProcess(const QStringList& args);
    ~SimProcess();

    // Starts the simulator and waits for "ready".
    bool start(int timeoutMs = 10000);
    // Starts it and opens a station on each of `modules` ("NAME" or
    // "NAME:SETTINGS") as ports 1, 2, ...; returns them once the simulator
    // sees them all, or nothing.
    std::vector<Station> startWithStations(const QStringList& modules);
    QString linkPath(const QString& module) const { return links_.filePath(module); }
    QString linkDir() const { return links_.path(); }
    qint64 pid() const { return proc_.processId(); }

    // Sends a console line; returns what it printed up to its "ok ..." answer.
    QStringList command(const QString& line, int timeoutMs = 5000);
    // Waits until the simulator sees a station on each of `modules`.
    bool waitStations(const QStringList& modules, int timeoutMs = 5000);
    void send(const QString& line);
    void closeConsole() { proc_.closeWriteChannel(); }

    QStringList trace() const;
    // Waits for at least `count` trace lines.
    QStringList waitTrace(int count, int timeoutMs = 5000) const;

    // Sends `signal` and waits for the end; returns the exit code, or -1.
    int stop(int signal, int timeoutMs = 10000);

private:
    QString takeLine(int timeoutMs);
    bool running() const { return proc_.state() != QProcess::NotRunning; }

    QTemporaryDir links_;
    QTemporaryDir work_;
    QStringList args_;
    QProcess proc_;
};

// The project's serial channel opened on a simulator link as port `port`
// (RAVA2_COMn points at the link); empty settings mean 115200 8N1.
Station openStation(int port, const QString& path, const QString& settings = {});

// What a channel receives until `count` bytes (for 0: until `timeoutMs`).
QByteArray receive(Channel& channel, int count, int timeoutMs = 3000);

QString simBinary();

} // namespace rava::test
