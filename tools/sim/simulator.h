#pragma once

#include "args.h"
#include "console.h"
#include "faults.h"
#include "framer.h"
#include "pacer.h"
#include "pty_port.h"
#include "registers.h"
#include "trace.h"

#include <string>
#include <vector>

namespace rava::sim {

struct ModuleStats {
    std::uint64_t inPackets = 0; // packets its station wrote
    std::uint64_t inBytes = 0;
    std::uint64_t outPackets = 0; // packets delivered to its station
    std::uint64_t outBytes = 0;   // bytes written to its station
    std::uint64_t dropped = 0;    // packets of its station that reached no one
    std::uint64_t corrupted = 0;  // bytes damaged on the way to its station
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
    Framer framer;
    Pacer pacer;
    Bytes backlog; // paced bytes the station has not taken yet

    PtyPort port;
    std::string link;
    bool linked = false;
    bool present = false;
    Nanos nextProbe = 0;
    ModuleStats stats;

    LineSetting line() const { return {baud, parity}; }
};

// The running simulation: one pseudo-terminal per module, a poll() loop,
// framing, routing, register programming, pacing, faults, trace and console.
//
// How the modules behave where a real one leaves room:
// - Stations come and go. A module whose station side nobody holds (POLLHUP
//   on our side) is left out of poll() and probed every 10 ms instead, so the
//   loop never spins; a packet for it probes it at once, and is dropped
//   ("absent:NAME" in the trace) rather than kept if nobody is there; and
//   whatever was still queued for it is flushed when it goes, so the next
//   station starts clean.
// - Framing is by arrival: a station's write reaches the module at once, and
//   the frame gap is measured between arrivals (input is not paced). Output
//   is paced at the module's baud rate, 10 bits a byte, after --latency.
//   A packet is complete only after the gap: the module stores and forwards.
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
//   each delivery drawing from one seeded generator in packet order.
// - Output a station does not read piles up to 64 KiB; beyond that the
//   oldest bytes are dropped, as a module's buffer would overflow.
class Simulator {
public:
    explicit Simulator(const Options& options);
    ~Simulator(); // removes the links
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Checks the directory and the link names, then creates the
    // pseudo-terminals and links. On failure nothing is left behind.
    bool start(std::string& error);
    // "NAME PATH" per module, then "ready".
    void announce() const;
    // Runs until a byte arrives on `stopFd`. Returns the exit status.
    int run(int stopFd);

    // A console line; answers on standard output or standard error.
    void command(const std::string& line);

private:
    Nanos now() const;
    Nanos sinceStart(Nanos t) const { return t - start_; }
    bool checkPlaces(std::string& error) const;
    void removeLinks();
    Nanos pollTimeout(Nanos t) const;
    void readStation(Module& m, Nanos t);
    void stationGone(Module& m);
    void probe(Module& m, Nanos t);
    void handlePacket(std::size_t from, Bytes packet, Nanos t);
    void flushOutput(Module& m, Nanos t);
    void readConsole();
    void printStats() const;
    Module* find(const std::string& name);
    void trace(Nanos t, const std::string& from, const std::string& to, const Bytes& bytes,
               const std::string& note);

    Options options_;
    std::vector<Module> modules_;
    Faults faults_;
    Nanos latency_ = 0;
    TraceSink trace_;
    Nanos start_ = 0;
    bool consoleOpen_ = true;
    std::string consoleBuffer_;
    std::uint64_t dropped_ = 0;
    std::uint64_t corrupted_ = 0;
};

} // namespace rava::sim
