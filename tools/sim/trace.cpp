#include "trace.h"

#include <cerrno>

namespace rava::sim {

void formatTrace(std::string& out, Nanos time, const std::string& from, const std::string& to,
                 const std::uint8_t* bytes, std::size_t size, std::size_t length,
                 const std::string& note) {
    char head[64];
    const long long us = time / 1000;
    std::snprintf(head, sizeof head, "%lld.%03lld ", us / 1000, us % 1000);
    out.assign(head);
    out += from.empty() ? "-" : from;
    out += ' ';
    out += to.empty() ? "-" : to;
    out += ' ';
    out += std::to_string(length);
    out += ' ';
    static const char digits[] = "0123456789abcdef";
    if (size == 0)
        out += '-';
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    if (!note.empty()) {
        out += ' ';
        out += note;
    }
}

TraceSink::~TraceSink() {
    close();
}

void TraceSink::close() {
    if (file_ && owned_)
        std::fclose(file_);
    file_ = nullptr;
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

bool TraceSink::write(const std::string& line) {
    if (!file_)
        return true;
    errno = 0;
    const bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
                    std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
    if (!ok) {
        const int error = errno ? errno : EIO;
        close();
        errno = error;
    }
    return ok;
}

} // namespace rava::sim
