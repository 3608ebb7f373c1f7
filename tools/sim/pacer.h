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
// Bytes come in chunks, each with the time it was read. A chunk read after
// the kernel was seen empty (and nothing held reading back) arrived at that
// time: it starts on the line then, or right after the bytes before it if
// the line is still busy with those. Times are line times: when each byte
// handed on finished arriving.
class Intake {
public:
    explicit Intake(int baud = 0, std::size_t lookahead = 4096);
    void setBaud(int baud) { charTime_ = characterTime(baud); }

    bool busy() const { return size_ > 0; }
    std::size_t buffered() const { return size_; }
    // How many more bytes may be read ahead of the line.
    std::size_t room() const { return ring_.size() - size_; }
    // Bytes handed on so far, ever.
    std::uint64_t handedOn() const { return taken_; }
    // Starts the line again at `now` after the module stopped taking bytes
    // for a while (a full queue): what waited goes on from there.
    void resume(Nanos now);

    struct Arrival {
        Nanos stamp = 0;    // when the chunk was read
        bool fresh = false; // the kernel was seen empty before it: it arrived at `stamp`
        Nanos lateness = 0; // how late it may have been read
        Nanos gap = 0;      // the frame gap
        Nanos writeGap = 0; // see fill()
    };
    // A chunk read from the station. A fresh chunk after at least the frame
    // gap of silence on the line starts a packet. So does one that comes
    // while the line is still busy with earlier bytes, at least `writeGap`
    // after the chunk before it: it is another write of the station, and a
    // packet ends before it however close they follow on the line.
    // A chunk read so late that it may hide such a start (late by the frame
    // gap, after that much silence on the line; or late by `writeGap`) is
    // framed by a guess: take() says so for its bytes.
    void fill(const std::uint8_t* bytes, std::size_t size, const Arrival& arrival);
    // Bytes that may be handed on before the next write's first byte.
    std::size_t untilWrite() const;
    // All bytes before the next write's first byte were handed on: the
    // packet ends here (the mark is used up).
    bool takeWriteEnd();
    // How many buffered bytes have arrived by `now`.
    std::size_t due(Nanos now) const;
    // Hands on the first `count` bytes (at most due(now)) into `out`;
    // cursor() is then the line time when the last of them arrived. True
    // when any of them came in a chunk read late.
    bool take(std::size_t count, std::uint8_t* out);
    Nanos cursor() const { return cursor_; }
    // When to look again while bytes are buffered (the next quantum tick
    // where a byte is due; at once unpaced); nullopt when empty.
    std::optional<Nanos> deadline() const;

private:
    // When the last buffered byte finishes on the line.
    Nanos lineEnd() const;
    // When the next byte to hand on has arrived.
    Nanos nextDue() const;

    struct Start {
        std::uint64_t at; // the byte (counted as filled_) that starts after silence
        Nanos time;
    };
    Nanos charTime_ = 0;
    Nanos cursor_ = 0;
    Nanos lastStamp_ = 0;
    std::uint64_t filled_ = 0; // bytes ever read, ever handed on
    std::uint64_t taken_ = 0;
    std::deque<Start> starts_;
    std::deque<std::uint64_t> writeStarts_;
    std::deque<std::pair<std::uint64_t, std::uint64_t>> late_; // [from, to) read late
    Bytes ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

} // namespace rava::sim
