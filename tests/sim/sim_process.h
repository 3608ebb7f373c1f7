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
// private directory and its trace in a file.
class SimProcess {
public:
    // `args` are the options and modules; --dir (`dir`, or a private one)
    // and --trace (unless given) are added.
    explicit SimProcess(const QStringList& args, const QString& dir = {});
    ~SimProcess();

    // Starts the simulator and waits for "ready".
    bool start(int timeoutMs = 10000);
    // Starts it and opens a station on each of `modules` ("NAME" or
    // "NAME:SETTINGS") as ports 1, 2, ...; returns them once the simulator
    // sees them all, or nothing.
    std::vector<Station> startWithStations(const QStringList& modules);
    QString linkPath(const QString& module) const { return dir_ + QLatin1Char('/') + module; }
    QString linkDir() const { return dir_; }
    qint64 pid() const { return proc_.processId(); }

    // Sends a console line; returns what it printed up to its "ok ..." answer.
    QStringList command(const QString& line, int timeoutMs = 5000);
    // Waits until the simulator sees a station on each of `modules`.
    bool waitStations(const QStringList& modules, int timeoutMs = 5000);
    void send(const QString& line);
    void closeConsole() { proc_.closeWriteChannel(); }

    QStringList trace() const;
    // What it wrote on standard error so far.
    QString errors();
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
    QString errors_;
    QStringList args_;
    QProcess proc_;
};

// The project's serial channel opened on a simulator link as port `port`
// (RAVA2_COMn points at the link); empty settings mean 115200 8N1.
Station openStation(int port, const QString& path, const QString& settings = {});

// What a channel receives until `count` bytes (for 0: until `timeoutMs`).
QByteArray receive(Channel& channel, int count, int timeoutMs = 3000);

QString simBinary();

// A station that is not the project's serial channel: a raw descriptor on
// a link, 8N1 at `speed`, as a plain program would open it.
int openRaw(const QString& path, speed_t speed = B115200, bool blocking = false);
// Reads from a raw descriptor until `count` bytes came, or `timeoutMs`
// passed without a byte.
QByteArray readRaw(int fd, qsizetype count, int timeoutMs = 3000);

// Writes a whole buffer to a descriptor from a thread of its own, as fast
// as it takes it, as a station writing flat out; remembers when the last
// byte was taken. Gives up when destroyed.
class FlatOutWriter {
public:
    FlatOutWriter(int fd, QByteArray bytes);
    ~FlatOutWriter();
    bool done() const { return done_; }
    qint64 msToFinish() const { return ms_; } // -1 while writing
    qint64 written() const { return written_; }

private:
    QByteArray bytes_;
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
    std::atomic<qint64> ms_{-1};
    std::atomic<qint64> written_{0};
    std::thread thread_;
};

// `size` payload bytes in a fixed pattern that never holds the byte 7, the
// slave address the tests use, so that the address bytes a module puts in
// front of packets can be told from the payload.
QByteArray pattern(qsizetype size);

// A memory figure of a process from /proc/PID/status ("VmRSS", "VmHWM"), in
// KiB; -1 if unreadable.
long memoryKb(qint64 pid, const char* field);

} // namespace rava::test
