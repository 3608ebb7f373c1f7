#pragma once

#include "link/serial_channel.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <termios.h>
#include <thread>
#include <vector>

namespace rava::test {

using Station = std::unique_ptr<SerialChannel>;

// The module simulator running as a child process, with its links in a
// private directory (or `dir`) and its trace in a file (unless --trace given).
class SimProcess {
public:
    explicit SimProcess(const QStringList& args, const QString& dir = {});
    ~SimProcess();

    // Starts the simulator and waits for "ready".
    bool start(int timeoutMs = 10000);
    // Starts it and opens a station on each of `modules` ("NAME" or
    // "NAME:SETTINGS") as ports 1, 2, ...; returns them once the simulator
    // sees them all, or nothing.
    std::vector<Station> startWithStations(const QStringList& modules);
    QString linkPath(const QString& module) const { return dir_ + QLatin1Char('/') + module; }
    qint64 pid() const { return proc_.processId(); }

    // Sends a console line; returns what it printed up to its "ok ..." answer.
    QStringList command(const QString& line, int timeoutMs = 5000);
    // Waits until the simulator sees a station on each of `modules`.
    bool waitStations(const QStringList& modules, int timeoutMs = 5000);
    void send(const QString& line);

    QStringList trace() const;
    QString errors() { return QString::fromLocal8Bit(proc_.readAllStandardError()); }
    // Waits for at least `count` trace lines.
    QStringList waitTrace(int count, int timeoutMs = 5000) const;
    // Sends `signal` and waits for the end; returns the exit code, or -1.
    int stop(int signal, int timeoutMs = 10000);

private:
    QString takeLine(int timeoutMs);
    bool running() const { return proc_.state() != QProcess::NotRunning; }

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

// A raw descriptor on a link, 8N1 at `speed`, as a plain program opens it.
int openRaw(const QString& path, speed_t speed = B115200, bool blocking = false);
// Reads until `count` bytes came, or `timeoutMs` passed without a byte.
QByteArray readRaw(int fd, qsizetype count, int timeoutMs = 3000);

// Writes a whole buffer to a descriptor from a thread of its own, flat out;
// gives up when destroyed.
class FlatOutWriter {
public:
    FlatOutWriter(int fd, QByteArray bytes);
    ~FlatOutWriter();
    qint64 msToFinish() const { return ms_; } // -1 while writing

private:
    QByteArray bytes_;
    std::atomic<bool> stop_{false};
    std::atomic<qint64> ms_{-1};
    std::thread thread_;
};

// `size` bytes in a fixed pattern that never holds the byte 7, the slave
// address the tests use, so that address bytes stand out.
QByteArray pattern(qsizetype size);
// A memory figure ("VmRSS", "VmHWM") of a process, in KiB; -1 if unreadable.
long memoryKb(qint64 pid, const char* field);

} // namespace rava::test
