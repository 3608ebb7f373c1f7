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
    Module(const ModuleSpec& spec, const Options& options);

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
