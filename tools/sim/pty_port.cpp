#include "pty_port.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace rava::sim {

PtyPort::~PtyPort() {
    if (fd_ >= 0)
        ::close(fd_);
}

PtyPort::PtyPort(PtyPort&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

PtyPort& PtyPort::operator=(PtyPort&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

std::optional<PtyPort> PtyPort::create(const LineSetting& initial, std::string& error) {
    PtyPort p;
    p.fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (p.fd_ < 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    char name[256];
    if (grantpt(p.fd_) != 0 || unlockpt(p.fd_) != 0 || ptsname_r(p.fd_, name, sizeof name) != 0) {
        error = std::string("cannot set up a pseudo-terminal: ") + std::strerror(errno);
        return std::nullopt;
    }
    p.path_ = name;
    termios t{};
    if (tcgetattr(p.fd_, &t) == 0) {
        cfmakeraw(&t);
        applySetting(t, initial);
        tcsetattr(p.fd_, TCSANOW, &t);
    }
    const int station = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (station < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return std::nullopt;
    }
    ::close(station);
    return p;
}

bool PtyPort::stationPresent() const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

std::optional<LineSetting> PtyPort::stationLine() const {
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return std::nullopt;
    return stationSetting(t);
}

void PtyPort::discardOutput() {
    tcflush(fd_, TCOFLUSH);
}

} // namespace rava::sim
