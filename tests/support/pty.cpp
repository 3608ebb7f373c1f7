#include "pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace rava::test {

Pty::Pty() {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ >= 0 && (grantpt(fd_) != 0 || unlockpt(fd_) != 0)) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0)
        return;
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
    (void)QTest::qWaitFor(
        [&] {
            char buf[4096];
            for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;)
                got.append(buf, int(n));
            return got.size() >= qMax(count, 1);
        },
        timeoutMs);
    return got;
}

bool Pty::stationOpen() {
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 0);
    return (p.revents & POLLHUP) == 0;
}

bool Pty::waitStationOpen(bool open, int timeoutMs) {
    return QTest::qWaitFor([&] { return stationOpen() == open; }, timeoutMs);
}

unsigned Pty::stationSpeed() {
    termios t{};
    return tcgetattr(fd_, &t) == 0 ? unsigned(cfgetospeed(&t)) : 0;
}

char Pty::stationParity() {
    termios t{};
    tcgetattr(fd_, &t);
    // The pty driver drops PARENB; the channel marks parity checking in the
    // input flags instead.
    return !(t.c_iflag & INPCK) ? 'n' : (t.c_cflag & PARODD) ? 'o' : 'e';
}

} // namespace rava::test
