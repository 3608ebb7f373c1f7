#pragma once

#include "link/serial_channel.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace rava::test {

// The module simulator running as a child process, with its links in a
// private directory and its trace in a file.
class SimProcess {
public:
    // `args` are the options and modules; --dir and --trace are added.
    explicit SimProcess(const QStringList& args);
    ~SimProcess();

    // Starts the simulator and waits for "ready".
    bool start(int timeoutMs = 10000);
    QString linkPath(const QString& module) const;
    QString linkDir() const { return links_.path(); }
    qint64 pid() const { return proc_.processId(); }

    // Sends a console line and waits for the "ok ..." answer; returns it
    // (empty on timeout).
    QString command(const QString& line, int timeoutMs = 5000);
    // The same, returning every line printed up to and including the answer.
    QStringList exchange(const QString& line, int timeoutMs = 5000);
    // The "stats" line of one module (empty if none).
    QString stats(const QString& module);
    // Waits until the simulator sees a station on each of `modules`.
    bool waitStations(const QStringList& modules, int timeoutMs = 5000);
    // Sends a console line that expects no answer.
    void send(const QString& line);
    void closeConsole() { proc_.closeWriteChannel(); }
    QString errors();

    // Trace lines so far, and waiting for at least `count` of them.
    QStringList trace() const;
    QStringList waitTrace(int count, int timeoutMs = 5000) const;

    // Sends `signal` and waits for the end; returns the exit code, or -1.
    int stop(int signal, int timeoutMs = 10000);
    bool running() const { return proc_.state() != QProcess::NotRunning; }

private:
    QString takeLine(int timeoutMs);

    QTemporaryDir links_;
    QTemporaryDir work_;
    QStringList args_;
    QProcess proc_;
    QByteArray out_;
    QByteArray err_;
};

// A station: the project's serial channel opened on a simulator link as
// port `port` (RAVA2_COMn points at the link).
std::unique_ptr<SerialChannel>
openStation(int port, const QString& path,
            const QString& settings = QStringLiteral("115200,n,8,1"));

// Collects what a channel receives until `count` bytes (or, for 0, until
// `timeoutMs` has passed).
QByteArray receive(Channel& channel, int count, int timeoutMs = 3000);

QString simBinary();

} // namespace rava::test
