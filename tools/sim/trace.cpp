#include "trace.h"

namespace rava::sim {

std::string formatTrace(Nanos sinceStart, const std::string& from, const std::string& to,
                        const Bytes& bytes, const std::string& note) {
    char time[32];
    const long long us = sinceStart / 1000;
    std::snprintf(time, sizeof time, "%lld.%03lld", us / 1000, us % 1000);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    std::string line = std::string(time) + ' ' + from + ' ' + (to.empty() ? "-" : to) + ' ' +
                       std::to_string(bytes.size()) + ' ' + (hex.empty() ? "-" : hex);
    if (!note.empty())
        line += ' ' + note;
    return line;
}

TraceSink::~TraceSink() {
    if (file_ && owned_)
        std::fclose(file_);
}

bool TraceSink::open(const std::string& path) {
    if (path == "-") {
        file_ = stdout;
        owned_ = false;
        return true;
    }
    file_ = std::fopen(path.c_str(), "w");
    owned_ = file_ != nullptr;
    return file_ != nullptr;
}

void TraceSink::write(const std::string& line) {
    if (!file_)
        return;
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

} // namespace rava::sim
