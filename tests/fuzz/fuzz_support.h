#pragma once

// Helpers of the fuzz targets: an input read as a small program of
// operations, the application object timers and widgets need, a timer
// running out, and the check that stops a run.
#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace rava::fuzz {

// Reads an input front to back; past the end everything reads as 0/empty.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    std::uint8_t byte() { return atEnd() ? 0 : data_[pos_++]; }
    QByteArray bytes(std::size_t n) { // up to n
        n = std::min(n, size_ - pos_);
        QByteArray b(reinterpret_cast<const char*>(data_ + pos_), qsizetype(n));
        pos_ += n;
        return b;
    }
    QByteArray rest() { return bytes(size_); }
    // n bytes as text a box may hold: Latin-1, or UTF-16 (pasted) as the
    // byte before them says.
    QString text(std::size_t n) {
        const bool wide = byte() & 1;
        const QByteArray b = bytes(n);
        return wide ? QString(reinterpret_cast<const QChar*>(b.constData()), b.size() / 2)
                    : QString::fromLatin1(b);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The application object, made at the first call. `App` is
// QCoreApplication or QApplication; it goes at exit like any program's, so
// what it holds is not reported as leaked.
template <typename App> void makeApplication() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new App(argc, argv);
        std::atexit([] { delete QCoreApplication::instance(); });
    }
}

// A timer running out, as its tick leaves it: stopped, then fired.
template <typename Timer> void fire(Timer* timer) {
    timer->stop();
    emit timer->fired();
}

} // namespace rava::fuzz

// A broken promise of the code under test: report it and abort, so that
// libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);          \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
