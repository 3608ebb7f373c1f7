#include "pacer.h"

#include <algorithm>
#include <cstring>

namespace rava::sim {

Nanos paceTick(Nanos t) {
    const Nanos q = kPaceQuantum;
    return t >= 0 ? (t + q - 1) / q * q : -(-t / q * q);
}

Pacer::Pacer(int baud, std::size_t capacity) : ring_(std::max<std::size_t>(capacity, 1)) {
    setBaud(baud);
}

bool Pacer::push(const std::uint8_t* prefix, std::size_t prefixSize, const std::uint8_t* bytes,
                 std::size_t size, Nanos availableAt) {
    const std::size_t total = prefixSize + size;
    if (total == 0)
        return true;
    if (total > room())
        return false;
    auto copy = [this](const std::uint8_t* from, std::size_t n) {
        std::size_t tail = (head_ + size_) % ring_.size();
        while (n > 0) {
            const std::size_t piece = std::min(n, ring_.size() - tail);
            std::memcpy(ring_.data() + tail, from, piece);
            from += piece;
            n -= piece;
            size_ += piece;
            tail = (tail + piece) % ring_.size();
        }
    };
    copy(prefix, prefixSize);
    copy(bytes, size);
    segments_.push_back({availableAt, total, false});
    return true;
}

std::size_t Pacer::due(Nanos now) const {
    std::size_t total = 0;
    Nanos cursor = cursor_;
    for (const Segment& s : segments_) {
        const Nanos start = std::max(cursor, s.availableAt);
        if (now < start + charTime_)
            break;
        const std::size_t n =
            charTime_ > 0 ? std::min<std::size_t>(s.left, std::size_t((now - start) / charTime_))
                          : s.left;
        total += n;
        if (n < s.left)
            break;
        cursor = start + Nanos(n) * charTime_;
    }
    return total;
}

Pacer::Pieces Pacer::peek(std::size_t count) {
    count = std::min(count, size_);
    const std::size_t first = std::min(count, ring_.size() - head_);
    return {ring_.data() + head_, first, ring_.data(), count - first};
}

void Pacer::consume(std::size_t count) {
    count = std::min(count, size_);
    head_ = (head_ + count) % ring_.size();
    size_ -= count;
    while (count > 0 && !segments_.empty()) {
        Segment& s = segments_.front();
        const Nanos start = std::max(cursor_, s.availableAt);
        const std::size_t n = std::min(count, s.left);
        cursor_ = start + Nanos(n) * charTime_;
        s.left -= n;
        s.started = true;
        count -= n;
        if (s.left == 0)
            segments_.pop_front();
    }
}

std::optional<Nanos> Pacer::deadline() const {
    if (segments_.empty())
        return std::nullopt;
    const Segment& s = segments_.front();
    const Nanos start = std::max(cursor_, s.availableAt);
    if (!s.started || charTime_ == 0)
        return start + charTime_;
    return paceTick(start + charTime_);
}

std::size_t Pacer::clear() {
    const std::size_t dropped = size_;
    segments_.clear();
    head_ = size_ = 0;
    cursor_ = 0;
    return dropped;
}

Intake::Intake(int baud, std::size_t lookahead) : ring_(std::max<std::size_t>(lookahead, 1)) {
    setBaud(baud);
}

void Intake::start(Nanos now) {
    if (!busy())
        cursor_ = std::max(cursor_, now);
    kernelEmpty_ = false;
}

void Intake::resume(Nanos now) {
    cursor_ = std::max(cursor_, now);
}

void Intake::fill(const std::uint8_t* bytes, std::size_t size, Nanos now, Nanos writeGap) {
    size = std::min(size, room());
    if (size == 0)
        return;
    // Only a pause the module watched for tells writes apart: not one after
    // the buffer was full, when the module itself stopped reading.
    if (!empty() && sawEmpty_ && !wasFull_ && writeGap > 0 && now - lastFill_ >= writeGap &&
        (writeStarts_.empty() || writeStarts_.back() != filled_))
        writeStarts_.push_back(filled_);
    sawEmpty_ = false;
    lastFill_ = now;
    wasFull_ = size >= room();
    filled_ += size;
    std::size_t tail = (head_ + size_) % ring_.size();
    while (size > 0) {
        const std::size_t piece = std::min(size, ring_.size() - tail);
        std::memcpy(ring_.data() + tail, bytes, piece);
        bytes += piece;
        size -= piece;
        size_ += piece;
        tail = (tail + piece) % ring_.size();
    }
}

std::size_t Intake::untilWrite() const {
    return writeStarts_.empty() ? size_ : std::size_t(writeStarts_.front() - taken_);
}

bool Intake::takeWriteEnd() {
    if (writeStarts_.empty() || writeStarts_.front() != taken_)
        return false;
    writeStarts_.pop_front();
    return true;
}

std::size_t Intake::due(Nanos now) const {
    const std::size_t limit = untilWrite();
    if (charTime_ <= 0)
        return limit;
    const std::size_t n = now > cursor_ ? std::size_t((now - cursor_) / charTime_) : 0;
    return std::min(n, limit);
}

void Intake::take(std::size_t count, std::uint8_t* out, Nanos now) {
    count = std::min(count, size_);
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(count - done, ring_.size() - head_);
        std::memcpy(out + done, ring_.data() + head_, piece);
        head_ = (head_ + piece) % ring_.size();
        done += piece;
    }
    size_ -= count;
    taken_ += count;
    cursor_ = charTime_ > 0 ? cursor_ + Nanos(count) * charTime_ : now;
}

std::optional<Nanos> Intake::deadline() const {
    if (!busy())
        return std::nullopt;
    if (charTime_ <= 0 || empty())
        return cursor_;
    return paceTick(cursor_ + charTime_);
}

} // namespace rava::sim
