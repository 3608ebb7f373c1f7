#pragma once

// Helpers shared by the fuzz targets: reading a fuzz input as a small
// program of operations, and the Qt application some targets need.
#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace rava::fuzz {

// Reads an input front to back; past the end everything reads as 0/empty.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    std::size_t left() const { return size_ - pos_; }
    std::uint8_t byte() { return atEnd() ? 0 : data_[pos_++]; }
    // Up to `n` bytes.
    QByteArray bytes(std::size_t n) {
        if (n > left())
            n = left();
        QByteArray b(reinterpret_cast<const char*>(data_ + pos_), qsizetype(n));
        pos_ += n;
        return b;
    }
    QByteArray rest() { return bytes(left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken promise of the code under test: report it and stop, so libFuzzer
// keeps the input.
[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

} // namespace rava::fuzz

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::rava::fuzz::fail(#cond, __FILE__, __LINE__);                                         \
    } while (0)

#include <QCoreApplication>

namespace rava::fuzz {

// The application object, made once before the first input: timers and
// widgets need one. `App` is QCoreApplication or QApplication.
template <typename App> void makeApplication() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new App(argc, argv);
        // Torn down at exit like any program's application, so that what
        // it holds is not reported as leaked.
        std::atexit([] { delete QCoreApplication::instance(); });
    }
}

} // namespace rava::fuzz
