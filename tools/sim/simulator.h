#pragma once

#include "args.h"
#include "console.h"
#include "faults.h"
#include "framer.h"
#include "pacer.h"
#include "pty_port.h"
#include "reader.h"
#include "registers.h"
#include "router.h"
#include "trace.h"

#include <string>
#include <vector>

namespace rava::sim {

// Counted per module. Drops are counted at the module whose station wrote
// the packet, by cause.
struct ModuleStats {
    std::uint64_t inPackets = 0; // packets its station wrote
    std::uint64_t inBytes = 0;
    std::uint64_t outPackets = 0;  // packets queued for its station
    std::uint64_t outBytes = 0;    // bytes written to its station
    std::uint64_t dropped = 0;     // packets of its station that reached no one
    std::uint64_t lost = 0;        // deliveries lost on the radio (--loss)
    std::uint64_t rejected = 0;    // deliveries damaged on the radio (--corrupt)
    std::uint64_t unrouted = 0;    // packets for an address no module has
    std::uint64_t empty = 0;       // a master's packet of the address alone
    std::uint64_t programming = 0; // packets for modules in programming mode
    std::uint64_t absent = 0;      // deliveries to a module without a station
    std::uint64_t oversize = 0;    // packets longer than the packet bound
    std::uint64_t undelivered = 0; // bytes queued for its station when it left
    std::uint64_t guessed = 0;     // packets of its station framed by a guess
};

struct Module {
    Module(const ModuleSpec& def, const Options& options);

    std::string name;
    Role role;
    int address;      // used for routing; reloaded from the EEPROM on leaving programming
    Parity parity;    // likewise
    int baud;         // set by the jumpers
    bool programming; // jumper 3
    RegisterFile registers;
    RegisterProtocol protocol;
    Intake intake;
    Framer framer;
    Pacer pacer;

    // The packet being handed on; while some of its deliveries wait for
    // room, the module takes nothing more from its station.
    Packet packet;
    bool held = false;
    bool reply = false; // packet holds register replies for the module's own station
    bool reached = false;
    Nanos heldSince = 0;
    Route route;

    PtyPort port;
    std::string link;
    bool linked = false;
    bool present = false;
    bool writeBlocked = false; // the station's side is full: wait for POLLOUT
    int watch = -1;
    Nanos nextProbe = 0;
    ModuleStats stats;

    LineSetting line() const { return {baud, parity}; }
};

// The running simulation: one pseudo-terminal per module, a reading
// process, a poll() loop, framing, routing, register programming, pacing,
// faults, trace and console.
//
// How the modules behave where a real one leaves room:
// - The line runs at the module's baud rate, 10 bits a byte, both ways: a
//   module takes bytes from its station no faster than the line carries
//   them, and the rest waits in the kernel, so the station's writes wait as
//   they would on a real line. Bytes reach a station at the same rate, after
//   --latency. --no-pacing takes and delivers bytes as fast as they come.
//   Due bytes are taken and handed over together, a millisecond's worth at
//   a time; the first byte of a packet goes out exactly when it is due.
// - A reading process of its own (StationReader, at a real-time priority
//   where the system allows) takes each station's bytes as soon as they
//   arrive and stamps every chunk with the time it read it (the monotonic
//   clock); the rest of the simulator's work, even the simulator being
//   stopped, never delays that. It reads at most the module's receive
//   buffer (16 KiB; 64 KiB unpaced) ahead of what the module has taken, so
//   the station's writes still wait in the kernel behind a busy line.
// - Framing is in line time, from those stamps: a chunk starts on the line
//   when it arrived, or right after the bytes before it while the line is
//   still busy with them. Bytes with less than the frame gap between them
//   on the line are one packet, however late the module takes them, so one
//   write is one packet. A station that writes faster than its line
//   carries still has its writes kept apart while the module's 16 KiB
//   receive buffer holds them: bytes that come 10 ms or more after the last
//   ones, with the buffer not full, start a packet of their own. A packet is
//   complete only after the gap, or at once when the next write follows (the
//   module stores and forwards). A packet holds at most 65,536 bytes. A
//   master's longer run is dropped whole ("oversize"): its tail would carry
//   no address. A slave's longer run is cut at the bound ("cut" in the
//   trace), and each piece reaches the masters with the slave's address.
// - Guessed framing: each chunk comes with how late the reader may have
//   been, since it last slept with every station read: the time it waited
//   to run (the kernel's run delay of its thread), or without bound when it
//   was stopped (it saw SIGCONT). Writes that far apart may sit in one chunk
//   with nothing in the bytes to tell where one ends. Framing it is a guess
//   (the chunk taken as one arrival) when that could hide a packet start:
//   late by at least the frame gap, read at least a frame gap after the line
//   fell silent; or late by the 10 ms that part writes on a busy line. A
//   packet holding any byte of such a chunk is relayed or dropped as usual,
//   counted as "guessed" in stats, and every trace line of it ends in the
//   note "guessed". Stopping only the simulator's main process (as a busy
//   machine does to it) guesses nothing: the reader goes on stamping.
// - Nothing is lost to a full queue: each module queues at most two packets
//   for its station, and a packet that does not fit waits in its source
//   module, which takes nothing more from its station meanwhile.
// - Drops are traced and counted per module and cause (stats): "lost" to
//   --loss, "unrouted" (no module has the address), "empty" (a master's
//   address byte alone), "programming" (the receivers are in programming
//   mode), "absent" (no station holds the receiving module), "oversize", and
//   "undelivered" bytes still queued for a station that went away.
// - Stations come and go. The simulator watches each station device for
//   opens (inotify; without it, it looks once a second), and a module with
//   no station is left out of poll(). A packet for it is dropped ("absent")
//   rather than kept; what was still queued for it is dropped when it goes,
//   so the next station starts clean. What a station wrote before closing
//   is still taken, at the line's rate, and relayed.
// - A master's packet of the address byte alone carries nothing: dropped
//   ("empty"). Several masters may exist, with any addresses (a master's own
//   address is not used for routing); a slave's packet goes to every master.
//   Slave addresses are unique on the command line; if reprogramming makes
//   two slaves share one, both receive its packets, as on the radio.
// - Programming mode (role "prog", or "prog NAME on"): the module answers
//   register requests, relays nothing and receives nothing. Its line keeps
//   the parity it had when it entered; on leaving, address and parity are
//   taken from registers 0 and 3, as at a power-up with jumper 3 open. Other
//   registers read back what was written (0 at start).
// - A line mismatch (station baud or parity differs from the module's)
//   garbles every byte that crosses that line, both ways: what the station
//   writes is garbled before framing (so a master station's address byte
//   is too, and such a packet usually reaches nobody), and what the module
//   sends it (relayed packets, register replies) is garbled on the way out.
// - Loss and corruption apply to relayed packets, not to register traffic,
//   each delivery drawing from one seeded generator in delivery order. As
//   the module checksums every radio packet, a damaged delivery is thrown
//   away by the receiving module: no station ever reads damaged bytes.
// - One simulator per directory: a lock file in it keeps a second one out,
//   and links left by a simulator that was killed are replaced.
class Simulator {
public:
    explicit Simulator(const Options& options);
    ~Simulator(); // removes the links and the lock
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Checks and locks the directory, checks the link names, then creates
    // the pseudo-terminals and links. On failure nothing is left behind.
    bool start(std::string& error);
    // "NAME PATH" per module, then "ready".
    void announce() const;
    // Runs until a byte arrives on `stopFd`. Returns the exit status.
    int run(int stopFd);

    // A console line; answers on standard output or standard error.
    void command(const std::string& line);

private:
    Nanos now() const;
    bool checkPlaces(std::string& error) const;
    bool lockDirectory(std::string& error);
    void unlockDirectory();
    void removeLinks();
    void watchStation(Module& m);
    std::optional<Nanos> pollTimeout() const;
    void readWatches(Nanos t);
    void probe(Module& m, Nanos t);
    // `unread`: what it wrote may still wait in the kernel.
    void stationLeft(Module& m, Nanos t, bool unread = true);
    void collect(std::size_t i, Nanos t);
    // Nothing of the station's waits: a packet may close after its gap.
    bool lineIdle(std::size_t i) const;
    // Moves what the reader read into the module's receive buffer.
    void takeChunks(std::size_t i, Nanos t);
    void readStation(std::size_t i, Nanos t);
    std::size_t index(const Module& m) const { return std::size_t(&m - modules_.data()); }
    void dispatch(std::size_t i, Nanos t);
    void deliver(std::size_t i, Nanos t);
    bool deliverable(const Module& src) const;
    void release(Module& m, Nanos t);
    void readConsole();
    void printStats() const;
    Module* find(const std::string& name);
    void trace(Nanos t, const std::string& from, const std::string& to, const std::uint8_t* bytes,
               std::size_t size, std::size_t length, const std::string& note);
    void trace(Nanos t, const std::string& from, const std::string& to, const Bytes& bytes,
               const std::string& note) {
        trace(t, from, to, bytes.data(), bytes.size(), bytes.size(), note);
    }

    Options options_;
    std::vector<Module> modules_;
    Faults faults_;
    Nanos latency_ = 0;
    TraceSink trace_;
    std::string traceLine_;
    Bytes scratch_;
    Bytes readBuffer_;
    Bytes chunk_;
    StationReader reader_;
    int inotify_ = -1;
    int lockFd_ = -1;
    std::string lockPath_;
    bool consoleOpen_ = true;
    bool consoleSkipping_ = false; // the rest of a refused line is still coming
    std::string consoleBuffer_;
    std::uint64_t dropped_ = 0;
};

} // namespace rava::sim
