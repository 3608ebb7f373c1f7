#pragma once

#include "types.h"

#include <deque>
#include <optional>

namespace rava::sim {

// How long a paced line may let due bytes wait so that they go out together:
// one wake-up per quantum instead of one per byte.
constexpr Nanos kPaceQuantum = 2 * kMillisecond;

// The first multiple of the quantum at or after `t`. Lines that are busy
// look again at these times only, so that all of them (both ways, every
// module) share one wake-up per quantum.
Nanos paceTick(Nanos t);

// The module's sending side of the serial line, with a bounded queue. A
// byte reaches the station only once its last bit has left, one character
// time after the previous byte (or after it became available, whichever is
// later). With a baud rate of 0 bytes are due as soon as they are available.
//
// The queue holds at most `capacity` bytes: push() refuses what does not fit
// whole, so the caller holds it back (and stops reading its source) instead
// of losing it. Bytes are taken in two steps, so that a station that does
// not read keeps them queued: due() tells how many may go, consume() removes
// what was written.
class Pacer {
public:
    explicit Pacer(int baud = 0, std::size_t capacity = 1 << 17);

    // Applies to bytes not yet started.
    void setBaud(int baud) { charTime_ = characterTime(baud); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t room() const { return ring_.size() - size_; }

    // Queues [prefix] bytes, which the module may start sending at
    // `availableAt`. False (and nothing queued) when they do not fit.
    bool push(const std::uint8_t* prefix, std::size_t prefixSize, const std::uint8_t* bytes,
              std::size_t size, Nanos availableAt);
    bool push(const Bytes& bytes, Nanos availableAt) {
        return push(nullptr, 0, bytes.data(), bytes.size(), availableAt);
    }

    // Number of queued bytes that have fully arrived by `now`.
    std::size_t due(Nanos now) const;
    // The first `count` queued bytes, as up to two contiguous pieces.
    struct Pieces {
        const std::uint8_t* first;
        std::size_t firstSize;
        const std::uint8_t* second;
        std::size_t secondSize;
    };
    Pieces peek(std::size_t count);
    // Removes the first `count` bytes (at most due()), which went out. The
    // schedule is the line's: bytes that came due while the station did not
    // read leave together once it reads again.
    void consume(std::size_t count);

    // When to look again: the first byte of a packet exactly when it is
    // due, later bytes at the next quantum tick where one is due. nullopt
    // when empty.
    std::optional<Nanos> deadline() const;
    // Drops everything; returns how many bytes were dropped.
    std::size_t clear();

private:
    struct Segment {
        Nanos availableAt;
        std::size_t left;
        bool started;
    };
    Nanos charTime_ = 0;
    Nanos cursor_ = 0; // when the last byte sent finished
    Bytes ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::deque<Segment> segments_;
};

// The module's receiving side of a station's line: bytes are handed on no
// faster than the line carries them, and the station's writes wait in the
// kernel meanwhile, as they would on a real line. The module reads a few
// bytes ahead of the line (its receive buffer, `lookahead` bytes), so that
// a kernel that is slow to pass on the rest of a long write does not look
// like the line falling silent. With a baud rate of 0 bytes are handed on
// as soon as they are read.
//
// The intake is busy while bytes are buffered or may wait in the kernel,
// and idle once the buffer is empty and the kernel had nothing. Times are
// line times: when each byte handed on finished arriving.
class Intake {
public:
    explicit Intake(int baud = 0, std::size_t lookahead = 4096);
    void setBaud(int baud) { charTime_ = characterTime(baud); }

    bool busy() const { return !empty() || !kernelEmpty_; }
    std::size_t buffered() const { return size_; }
    // How many bytes may be read from the kernel now.
    std::size_t room() const { return ring_.size() - size_; }
    // Bytes may be waiting from `now` on: the line starts at `now` unless
    // it is busy already.
    void start(Nanos now);
    // Starts the line again at `now` after the module stopped taking bytes
    // for a while (a full queue): nothing arrived meanwhile.
    void resume(Nanos now);
    // Bytes read from the kernel at `now`. When they come while the line is
    // still busy with earlier ones, after the kernel was found empty and at
    // least `writeGap` after the bytes before them, they are another write
    // of the station: a packet ends before them however close they follow
    // on the line.
    void fill(const std::uint8_t* bytes, std::size_t size, Nanos now = 0, Nanos writeGap = 0);
    // The kernel had nothing more.
    void kernelEmpty() {
        kernelEmpty_ = true;
        sawEmpty_ = true;
    }
    // Bytes that may be handed on before the next write's first byte.
    std::size_t untilWrite() const;
    // All bytes before the next write's first byte were handed on: the
    // packet ends here (the mark is used up).
    bool takeWriteEnd();
    bool kernelMayHoldBytes() const { return !kernelEmpty_; }
    // How many buffered bytes have arrived by `now`.
    std::size_t due(Nanos now) const;
    // Hands on the first `count` bytes (at most due(now)) into `out`;
    // cursor() is then the line time when the last of them arrived.
    void take(std::size_t count, std::uint8_t* out, Nanos now);
    Nanos cursor() const { return cursor_; }
    // When to look again while busy (the next quantum tick where a byte is
    // due, or at once when bytes may wait in the kernel); nullopt when idle.
    std::optional<Nanos> deadline() const;

private:
    bool empty() const { return size_ == 0; }

    Nanos charTime_ = 0;
    Nanos cursor_ = 0;
    bool kernelEmpty_ = true;
    bool sawEmpty_ = false;
    bool wasFull_ = false;
    Nanos lastFill_ = 0;
    std::uint64_t filled_ = 0; // bytes ever read, ever handed on
    std::uint64_t taken_ = 0;
    std::deque<std::uint64_t> writeStarts_;
    Bytes ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

} // namespace rava::sim
