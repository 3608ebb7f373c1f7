#pragma once

#include "types.h"

#include <optional>
#include <string>
#include <vector>

namespace rava::sim {

// The file in the links' directory that keeps a second simulator out of it.
constexpr const char* kLockFileName = ".rava2-sim.lock";

// One module of the command line: NAME=ROLE:ADDRESS[@BAUD].
struct ModuleSpec {
    std::string name;
    Role role = Role::Slave;
    bool programming = false; // role "prog": a slave in programming mode
    int address = 0;
    int baud = 0; // 0: the --baud value
};

struct Options {
    std::string dir;
    int baud = 115200;
    Parity parity = Parity::None;
    double frameGapMs = 0; // 0: 3.5 characters at the module's baud, at least 2 ms
    bool pacing = true;
    double loss = 0;
    double corrupt = 0;
    double latencyMs = 0;
    std::uint64_t seed = 1;
    std::string trace; // empty: none; "-": standard output
    bool help = false;
    std::vector<ModuleSpec> modules;
};

struct ParseResult {
    Options options;
    std::string error; // empty when the arguments are good
    bool ok() const { return error.empty(); }
};

// Parses and checks the arguments (without the program name). Checks that
// need the file system (the directory) are left to the caller.
ParseResult parseArguments(const std::vector<std::string>& args);

std::string usage();

// Baud rates a station can set on its line and a module can be given.
bool isSupportedBaud(int baud);

// Number parsing shared with the console. Each accepts the whole text only.
std::optional<long long> parseInteger(const std::string& text);
std::optional<double> parseNumber(const std::string& text);
std::optional<double> parseProbability(const std::string& text);

// Frame gap for a module at `baud`: the given one, or 3.5 characters, at
// least 2 ms.
Nanos frameGap(double frameGapMs, int baud);

} // namespace rava::sim
