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

    bool valid() const { return fd_ >= 0; }
    QString stationPath() const { return path_; }

    // Writes to the station; returns false on a short write.
    bool send(const QByteArray& bytes);
    // Reads what the station wrote, waiting at most timeoutMs for `count`
    // bytes (or for anything when count is 0), while Qt's events keep running.
    QByteArray receive(int count, int timeoutMs);
    // True while some process holds the station side open. A station side
    // that was never opened also reads as open (the driver reports no hang-up
    // until a first close), so tests open and close it once before relying
    // on this.
    bool stationOpen();
    // Waits (running events) until stationOpen() equals `open`.
    bool waitStationOpen(bool open, int timeoutMs);
    // Speed (B9600, ...) and parity ('n', 'o', 'e') the station set on its side.
    unsigned stationSpeed();
    char stationParity();

private:
    int fd_ = -1;
    QString path_;
};

} // namespace rava::test
