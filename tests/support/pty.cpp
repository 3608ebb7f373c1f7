#include "pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace rava::test {

Pty::Pty() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0)
        return;
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    path_ = QString::fromLocal8Bit(ptsname(fd_));
    // Raw line on the station side too, so no byte is translated.
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
}

Pty::~Pty() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool Pty::send(const QByteArray& bytes) {
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < bytes.size() && clock.elapsed() < 5000) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done == bytes.size();
}

QByteArray Pty::receive(int count, int timeoutMs) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, int(n));
        }
        if ((count == 0 && !got.isEmpty()) || (count > 0 && got.size() >= count))
            break;
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 2);
    } while (clock.elapsed() < timeoutMs);
    return got;
}

bool Pty::stationOpen() {
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 0);
    return (p.revents & POLLHUP) == 0;
}

bool Pty::waitStationOpen(bool open, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (stationOpen() != open) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

int Pty::stationBaud() {
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return -1;
    switch (cfgetospeed(&t)) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

char Pty::stationParity() {
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return '?';
    // The pty driver drops PARENB; the channel marks parity checking in the
    // input flags instead.
    if (!(t.c_iflag & INPCK))
        return 'n';
    return (t.c_cflag & PARODD) ? 'o' : 'e';
}

} // namespace rava::test
