// The simulator's framing of the byte stream a station writes: bytes fed at
// any times in any pieces, packets taken at any moments, with the line idle
// or not, in both overflow modes. No byte is lost, invented or reordered:
// the packets, one after the other, are the stream (an oversize packet of
// the dropping mode keeps the first bytes of its run and counts the rest);
// no packet is empty or longer than the bound; a packet closes only when
// it is full, when the station's write ended, or when the line has been
// idle for the gap.
#include "framer.h"
#include "fuzz_support.h"

#include <vector>

using namespace rava::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rava::fuzz::Input in(data, size);
    const std::uint8_t setup = in.byte();
    const Framer::Overflow overflow = setup & 1 ? Framer::Overflow::Cut : Framer::Overflow::Drop;
    const std::size_t maxPacket = 1 + in.byte() % 64;
    const Nanos gap = Nanos(1 + in.byte()) * 100000; // 0.1 to 25.6 ms
    Framer framer(gap, maxPacket, overflow);

    Bytes stream;         // every byte fed, in order
    std::size_t used = 0; // bytes of `stream` the packets taken so far stand for
    Nanos now = 0;
    Nanos lastFeed = -1;
    Packet p;
    bool ended = false; // the station's write ended: the packet is due at once

    auto check = [&](const Packet& packet, bool lineIdle, Nanos at) {
        FUZZ_CHECK(!packet.bytes.empty());
        FUZZ_CHECK(packet.bytes.size() <= maxPacket);
        FUZZ_CHECK(packet.length >= packet.bytes.size());
        FUZZ_CHECK(packet.oversize == (packet.length > maxPacket));
        if (!packet.oversize)
            FUZZ_CHECK(packet.length == packet.bytes.size());
        if (overflow == Framer::Overflow::Cut)
            FUZZ_CHECK(!packet.oversize);
        else
            FUZZ_CHECK(!packet.cut);
        // Closed early only when full or when the write ended.
        if (!packet.cut && !ended)
            FUZZ_CHECK(lineIdle && at - lastFeed >= gap);
        ended = false;
        FUZZ_CHECK(used + packet.length <= stream.size());
        for (std::size_t i = 0; i < packet.bytes.size(); ++i)
            FUZZ_CHECK(packet.bytes[i] == stream[used + i]);
        used += packet.length;
    };

    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        now += Nanos(op >> 2) * 50000; // up to 3.15 ms later
        if (op & 1) {
            const bool lineIdle = op & 2;
            if (framer.take(now, lineIdle, p))
                check(p, lineIdle, now);
            continue;
        }
        if (op & 2) {
            if ((op >> 2) & 1) {
                ended = ended || framer.collecting();
                framer.endPacket();
                if (ended)
                    FUZZ_CHECK(framer.deadline() == Nanos(0));
            } else {
                framer.seenIdle(now); // seen idle only now: the gap counts from here
            }
            continue;
        }
        std::size_t n = 1 + in.byte() % 48;
        n = std::min(n, framer.room());
        if (n == 0) // full: the caller takes the packet first
            continue;
        const QByteArray bytes = in.bytes(n);
        if (bytes.isEmpty())
            break;
        const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        framer.feed(b, std::size_t(bytes.size()), now);
        stream.insert(stream.end(), b, b + bytes.size());
        lastFeed = now;
        FUZZ_CHECK(framer.collecting());
        FUZZ_CHECK(framer.deadline().has_value());
    }
    // A long silence closes what is left.
    now += 1000 * gap;
    while (framer.take(now, true, p))
        check(p, true, now);
    FUZZ_CHECK(!framer.collecting());
    FUZZ_CHECK(!framer.deadline().has_value());
    FUZZ_CHECK(used == stream.size());
    return 0;
}
