#include "line.h"

#include "faults.h"

#include <string>

namespace rava::sim {

namespace {

struct SpeedEntry {
    int baud;
    speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

} // namespace

int baudFromSpeed(speed_t speed) {
    for (const auto& e : kSpeeds)
        if (e.speed == speed)
            return e.baud;
    return 0;
}

speed_t speedFromBaud(int baud) {
    for (const auto& e : kSpeeds)
        if (e.baud == baud)
            return e.speed;
    return B0;
}

LineSetting stationSetting(const termios& t) {
    LineSetting s;
    s.baud = baudFromSpeed(cfgetospeed(&t));
    if (t.c_iflag & INPCK)
        s.parity = (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    return s;
}

void applySetting(termios& t, const LineSetting& setting) {
    const speed_t speed = speedFromBaud(setting.baud);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~tcflag_t(PARENB | PARODD);
    t.c_iflag &= ~tcflag_t(INPCK);
    if (setting.parity != Parity::None) {
        t.c_cflag |= PARENB;
        t.c_iflag |= INPCK;
        if (setting.parity == Parity::Odd)
            t.c_cflag |= PARODD;
    }
}

std::uint8_t garble(std::uint8_t byte, std::uint64_t key) {
    const auto out = std::uint8_t(mix64(key ^ byte) & 0xff);
    return out != byte ? out : std::uint8_t(byte ^ 0xa5);
}

std::uint64_t garbleKey(std::uint64_t seed, const LineSetting& station, const LineSetting& module) {
    std::uint64_t k = mix64(seed ^ 0x5241564132ULL);
    k = mix64(k ^ std::uint64_t(station.baud) ^ (std::uint64_t(station.parity) << 32));
    k = mix64(k ^ std::uint64_t(module.baud) ^ (std::uint64_t(module.parity) << 32));
    return k;
}

std::string describe(const LineSetting& setting) {
    const char* p = setting.parity == Parity::Odd    ? "o"
                    : setting.parity == Parity::Even ? "e"
                                                     : "n";
    return std::to_string(setting.baud) + "," + p + ",8,1";
}

} // namespace rava::sim
