#pragma once

#include <QByteArray>
#include <QString>

namespace rava::test {

// A pseudo-terminal whose station side is opened by the code under test
// (by path) while the test holds the other side.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool valid() const { return !path_.isEmpty(); }
    // The test's side, for a reader of its own.
    int fd() const { return fd_; }
    QString stationPath() const { return path_; }
    bool send(const QByteArray& bytes);
    // What the station wrote: waits (running events) at most timeoutMs for
    // `count` bytes, or for anything when count is 0.
    QByteArray receive(int count, int timeoutMs);
    // Waits until no process holds the station side open. The driver reports
    // a hang-up only after a first open and close.
    bool waitStationClosed(int timeoutMs);
    // Speed (B9600, ...) and parity ('n', 'o', 'e') set on the station side.
    unsigned stationSpeed() const;
    char stationParity() const;

private:
    int fd_ = -1;
    QString path_;
};

} // namespace rava::test
