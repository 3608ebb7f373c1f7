// The simulator's framing of the byte stream a station writes: bytes fed at
// any times in any pieces, packets taken at any moments, with the line idle
// or not, in both overflow modes. The packets, one after the other, are the
// stream: no byte lost, invented or reordered (an oversize packet of the
// dropping mode keeps the first bytes of its run and counts the rest). No
// packet is empty or longer than the bound; a packet closes only when it is
// full, when the station's write ended, or after the gap with the line idle,
// and it is marked guessed exactly when one of its bytes was read late.
#include "framer.h"
#include "fuzz_support.h"

#include <algorithm>

using namespace rava::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rava::fuzz::Input in(data, size);
    const bool cutting = in.byte() & 1;
    const std::size_t maxPacket = 1 + in.byte() % 64;
    const Nanos gap = Nanos(1 + in.byte()) * 100000; // 0.1 to 25.6 ms
    Framer framer(gap, maxPacket, cutting ? Framer::Overflow::Cut : Framer::Overflow::Drop);

    Bytes stream;             // every byte fed, in order
    std::vector<bool> lateAt; // whether each byte of `stream` was fed as read late
    std::size_t used = 0;     // bytes of `stream` the packets taken so far stand for
    Nanos now = 0;
    Nanos lastFeed = -1;
    bool ended = false; // the station's write ended: the packet is due at once
    Packet p;
    auto take = [&](bool lineIdle) {
        if (!framer.take(now, lineIdle, p))
            return false;
        FUZZ_CHECK(!p.bytes.empty() && p.bytes.size() == std::min(p.length, maxPacket));
        FUZZ_CHECK(p.oversize == (p.length > maxPacket) && !(p.oversize && cutting));
        FUZZ_CHECK(!(p.cut && !cutting) && (p.cut || ended || (lineIdle && now - lastFeed >= gap)));
        FUZZ_CHECK(used + p.length <= stream.size());
        FUZZ_CHECK(std::equal(p.bytes.begin(), p.bytes.end(), stream.begin() + long(used)));
        // Guessed exactly when one of its bytes was read late.
        FUZZ_CHECK(p.guessed == std::any_of(lateAt.begin() + long(used),
                                            lateAt.begin() + long(used + p.length),
                                            [](bool late) { return late; }));
        used += p.length;
        ended = false;
        return true;
    };

    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        now += Nanos(op >> 2) * 50000; // up to 3.15 ms later
        if (op & 1) {
            take(op & 2);
        } else if (op & 2 && (op >> 2) & 1) {
            ended = ended || framer.collecting();
            framer.endPacket();
            FUZZ_CHECK(!ended || framer.deadline() == Nanos(0));
        } else if (const std::size_t n = std::min<std::size_t>(1 + in.byte() % 48, framer.room())) {
            // op & 2: bytes read late, which make their packet's framing a guess.
            const QByteArray bytes = in.bytes(n);
            const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.constData());
            framer.feed(b, std::size_t(bytes.size()), now, op & 2);
            lateAt.insert(lateAt.end(), std::size_t(bytes.size()), (op & 2) != 0);
            stream.insert(stream.end(), b, b + bytes.size());
            if (!bytes.isEmpty())
                lastFeed = now;
        }
        FUZZ_CHECK(framer.collecting() == (used < stream.size()));
        FUZZ_CHECK(framer.collecting() == framer.deadline().has_value());
    }
    now += 1000 * gap; // a long silence closes what is left
    while (take(true)) {
    }
    FUZZ_CHECK(!framer.collecting() && !framer.deadline() && used == stream.size());
    return 0;
}
