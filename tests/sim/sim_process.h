#pragma once

#include "link/serial_channel.h"

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <termios.h>
#include <vector>

namespace rava::test {

using Station = std::unique_ptr<SerialChannel>;

// The module simulator as a child process, its links in a private directory
// (or `dir`), its trace in a file unless --trace is given.
class SimProcess {
public:
    explicit SimProcess(const QStringList& args, const QString& dir = {});
    ~SimProcess();

    // Starts it and waits for "ready".
    bool start();
    // Starts it and opens a station on each of `modules` ("NAME" or
    // "NAME:SETTINGS") as ports 1, 2, ...; returns them once the simulator
    // sees them all, or nothing.
    std::vector<Station> startWithStations(const QStringList& modules);
    QString linkPath(const QString& module) const { return dir_ + '/' + module; }
    qint64 pid() const { return proc_.processId(); }

    // Sends console lines; returns what it printed up to the first "ok ...".
    QStringList command(const QString& lines);
    QString errors() { return QString::fromLocal8Bit(proc_.readAllStandardError()); }
    bool waitStations(const QStringList& modules);
    // The trace lines, once there are `atLeast` of them (or five seconds passed).
    QStringList trace(int atLeast = 0) const;
    // Sends `signal` and waits for the end; returns the exit code, or -1.
    int stop(int signal);

private:
    QStringList readUntil(const QString& prefix);

    QTemporaryDir links_;
    QTemporaryDir work_;
    QString dir_;
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
