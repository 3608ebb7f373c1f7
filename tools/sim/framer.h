#pragma once

#include "types.h"

#include <optional>

namespace rava::sim {

// A packet as the framer closed it.
struct Packet {
    Bytes bytes;            // the packet, or its first bytes when oversize
    std::size_t length = 0; // bytes the station wrote for it
    bool oversize = false;  // longer than the bound: to be dropped whole
    bool cut = false;       // closed by the bound, the stream goes on
    bool guessed = false;   // some of its bytes were read late: where it ends is a guess
};

// Cuts the byte stream a station writes into packets: bytes that follow
// each other on the line with less than the frame gap between them belong
// to one packet. Times are line times, so a packet's bytes that waited in
// the kernel stay together however late the module takes them.
//
// A packet holds at most `maxPacket` bytes. What happens to a longer run
// depends on whether its pieces can still be told apart downstream:
// - Cut: the packet is closed at the bound and the run goes on in the next
//   packet (a slave's module puts its address in front of each);
// - Drop: the whole run up to the next gap is one oversize packet, of which
//   only the first `maxPacket` bytes are kept (a master's packet has its
//   address only at its head, so its tail could not be delivered).
class Framer {
public:
    enum class Overflow { Cut, Drop };

    Framer(Nanos gap, std::size_t maxPacket = 65536, Overflow overflow = Overflow::Drop);

    void setGap(Nanos gap) { gap_ = gap; }
    Nanos gap() const { return gap_; }
    std::size_t maxPacket() const { return maxPacket_; }

    // How many bytes the next feed() may carry: up to the bound while
    // cutting (the caller takes the full packet first), any number else.
    std::size_t room() const;
    // Bytes whose last one finished arriving at `end`. They join the packet
    // being collected: the caller takes a finished packet (take() with the
    // line idle, before reading) before it feeds the bytes after a gap.
    // `late`: they were read late, so the packet's framing is a guess.
    void feed(const std::uint8_t* data, std::size_t size, Nanos end, bool late = false);
    // The station's write ends here: the packet is complete at once.
    void endPacket() { ended_ = length_ > 0; }
    // The packet that is complete at `now`, swapped into `out` (whose old
    // buffer is reused). A packet closes after the gap only while the line
    // is idle: bytes still waiting belong to it.
    bool take(Nanos now, bool lineIdle, Packet& out);
    // When the packet being collected closes if nothing more comes; nullopt
    // while there is none (a packet cut at the bound is due at once).
    std::optional<Nanos> deadline() const;
    bool collecting() const { return length_ > 0; }

private:
    void close(Packet& out);

    Nanos gap_;
    std::size_t maxPacket_;
    Overflow overflow_;
    Bytes current_;
    std::size_t length_ = 0;
    bool full_ = false;
    bool ended_ = false;
    bool guessed_ = false;
    Nanos last_ = 0;
};

} // namespace rava::sim
