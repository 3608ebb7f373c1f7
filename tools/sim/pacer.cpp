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

void Intake::resume(Nanos now) {
    cursor_ = std::max(cursor_, now);
}

Nanos Intake::lineEnd() const {
    Nanos t = cursor_;
    std::uint64_t at = taken_;
    for (const Start& s : starts_) {
        t = std::max(t + Nanos(s.at - at) * charTime_, s.time);
        at = s.at;
    }
    return t + Nanos(filled_ - at) * charTime_;
}

void Intake::fill(const std::uint8_t* bytes, std::size_t size, const Arrival& arrival) {
    size = std::min(size, room());
    if (size == 0)
        return;
    const Nanos end = lineEnd();
    const Nanos stamp = arrival.stamp;
    // Only a pause the module watched for tells writes apart: not one after
    // the buffer was full, when the module itself stopped reading.
    const bool silence = stamp > end;
    const bool apart =
        arrival.fresh &&
        ((silence && stamp - end >= arrival.gap) ||
         (!silence && busy() && arrival.writeGap > 0 && stamp - lastStamp_ >= arrival.writeGap));
    if (apart && (writeStarts_.empty() || writeStarts_.back() != filled_))
        writeStarts_.push_back(filled_);
    // Bytes after silence start on the line when they came (unpaced: every
    // chunk starts at its own time).
    if (silence)
        starts_.push_back({filled_, stamp});
    // Two writes in this chunk would have been at most `lateness` apart.
    const Nanos late = arrival.lateness;
    const bool hidden = (late >= arrival.gap && stamp - end >= arrival.gap) ||
                        (arrival.writeGap > 0 && late >= arrival.writeGap);
    if (hidden) {
        if (!late_.empty() && late_.back().second == filled_)
            late_.back().second += size;
        else
            late_.emplace_back(filled_, filled_ + size);
    }
    lastStamp_ = stamp;
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
    std::size_t n = 0;
    Nanos t = cursor_;
    std::uint64_t at = taken_;
    auto arrived = [&](std::uint64_t upTo) {
        const std::uint64_t k = upTo - at;
        const std::uint64_t fit = now > t ? std::uint64_t((now - t) / charTime_) : 0;
        n += std::size_t(std::min(k, fit));
        return fit >= k;
    };
    for (const Start& s : starts_) {
        if (n >= limit || !arrived(s.at))
            return std::min(n, limit);
        t = std::max(t + Nanos(s.at - at) * charTime_, s.time);
        at = s.at;
    }
    arrived(filled_);
    return std::min(n, limit);
}

bool Intake::take(std::size_t count, std::uint8_t* out) {
    count = std::min(count, size_);
    const std::uint64_t from = taken_;
    for (std::size_t done = 0; done < count;) {
        if (!starts_.empty() && starts_.front().at == taken_) {
            cursor_ = std::max(cursor_, starts_.front().time);
            starts_.pop_front();
        }
        std::size_t piece = std::min(count - done, ring_.size() - head_);
        if (!starts_.empty())
            piece = std::min<std::size_t>(piece, std::size_t(starts_.front().at - taken_));
        std::memcpy(out + done, ring_.data() + head_, piece);
        head_ = (head_ + piece) % ring_.size();
        done += piece;
        size_ -= piece;
        taken_ += piece;
        cursor_ += Nanos(piece) * charTime_;
    }
    bool late = false;
    while (!late_.empty() && late_.front().first < taken_) {
        late = late || late_.front().second > from;
        if (late_.front().second > taken_)
            break;
        late_.pop_front();
    }
    return late;
}

Nanos Intake::nextDue() const {
    Nanos t = cursor_;
    if (!starts_.empty() && starts_.front().at == taken_)
        t = std::max(t, starts_.front().time);
    return t + charTime_;
}

std::optional<Nanos> Intake::deadline() const {
    if (!busy())
        return std::nullopt;
    if (charTime_ <= 0)
        return cursor_;
    return paceTick(nextDue());
}

} // namespace rava::sim
