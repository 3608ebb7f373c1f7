#pragma once

#include <string>

namespace rava::sim {

// One line typed on the simulator's standard input.
struct Command {
    enum class Kind { None, Prog, Baud, Loss, Corrupt, Latency, Stats, Help };
    Kind kind = Kind::None; // None: an empty line, nothing to do
    std::string module;     // Prog, Baud
    bool on = false;        // Prog
    int baud = 0;           // Baud
    double value = 0;       // Loss, Corrupt (probability), Latency (ms)
};

struct ParsedCommand {
    Command command;
    std::string error; // empty when the line is good
};

// Words are separated by blanks or tabs; a trailing carriage return is
// ignored. Module names are not checked here.
ParsedCommand parseCommand(const std::string& line);

std::string consoleHelp();

} // namespace rava::sim
