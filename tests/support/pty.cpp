#include "pty.h"

#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace rava::test {

Pty::Pty() : fd_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios t{};
    if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 || tcgetattr(fd_, &t) != 0)
        return;
    path_ = QString::fromLocal8Bit(ptsname(fd_));
    cfmakeraw(&t); // no byte translated on the station side either
    tcsetattr(fd_, TCSANOW, &t);
}

Pty::~Pty() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool Pty::send(const QByteArray& bytes) {
    return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
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

bool Pty::waitStationClosed(int timeoutMs) {
    return QTest::qWaitFor(
        [this] {
            pollfd p{fd_, POLLIN, 0};
            return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP);
        },
        timeoutMs);
}

unsigned Pty::stationSpeed() const {
    termios t{};
    return tcgetattr(fd_, &t) == 0 ? unsigned(cfgetospeed(&t)) : 0;
}

char Pty::stationParity() const {
    termios t{};
    tcgetattr(fd_, &t);
    // The pty driver drops PARENB; the channel marks parity checking in the
    // input flags instead.
    return !(t.c_iflag & INPCK) ? 'n' : (t.c_cflag & PARODD) ? 'o' : 'e';
}

} // namespace rava::test
