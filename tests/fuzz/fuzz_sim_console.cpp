// The simulator's console: every line typed on its standard input is either
// refused with a sentence or gives a command whose values the simulator can
// apply as they are.
#include "args.h"
#include "console.h"
#include "fuzz_support.h"

#include <cmath>

using namespace rava::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    const ParsedCommand p = parseCommand(line);
    const Command& c = p.command;
    if (!p.error.empty()) {
        FUZZ_CHECK(c.kind == Command::Kind::None);
        return 0;
    }
    switch (c.kind) {
    case Command::Kind::None:
        // Only a line of blanks asks for nothing.
        FUZZ_CHECK(line.find_first_not_of(" \t\r\n\v\f") == std::string::npos);
        break;
    case Command::Kind::Prog:
        FUZZ_CHECK(!c.module.empty());
        break;
    case Command::Kind::Baud:
        FUZZ_CHECK(!c.module.empty());
        FUZZ_CHECK(isSupportedBaud(c.baud));
        break;
    case Command::Kind::Loss:
    case Command::Kind::Corrupt:
        FUZZ_CHECK(std::isfinite(c.value) && c.value >= 0 && c.value <= 1);
        break;
    case Command::Kind::Latency:
        FUZZ_CHECK(std::isfinite(c.value) && c.value >= 0 && c.value <= 60000);
        break;
    case Command::Kind::Stats:
    case Command::Kind::Help:
        break;
    }
    return 0;
}
