// The simulator's command line and console. The input split at NUL bytes is
// the arguments, and each argument is also a line typed on the console.
// Whatever they are, parsing ends with either an error sentence or values
// the simulator can run with as they are.
#include "args.h"
#include "console.h"
#include "fuzz_support.h"

#include <cmath>
#include <set>

using namespace rava::sim;

static bool within(double v, double high) {
    return std::isfinite(v) && v >= 0 && v <= high;
}

static void checkConsole(const std::string& line) {
    const ParsedCommand p = parseCommand(line);
    const Command& c = p.command;
    if (!p.error.empty() || c.kind == Command::Kind::None) {
        // Only a line of blanks asks for nothing without a word.
        FUZZ_CHECK(c.kind == Command::Kind::None);
        FUZZ_CHECK(!p.error.empty() || line.find_first_not_of(" \t\r\n\v\f") == std::string::npos);
        return;
    }
    if (c.kind == Command::Kind::Prog || c.kind == Command::Kind::Baud)
        FUZZ_CHECK(!c.module.empty());
    if (c.kind == Command::Kind::Baud)
        FUZZ_CHECK(isSupportedBaud(c.baud));
    if (c.kind == Command::Kind::Loss || c.kind == Command::Kind::Corrupt)
        FUZZ_CHECK(within(c.value, 1));
    if (c.kind == Command::Kind::Latency)
        FUZZ_CHECK(within(c.value, 60000));
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(size ? 1 : 0);
    for (std::size_t i = 0; i < size; ++i)
        if (data[i])
            args.back().push_back(char(data[i]));
        else
            args.emplace_back();
    for (const std::string& arg : args)
        checkConsole(arg);

    const ParseResult r = parseArguments(args);
    const Options& o = r.options;
    if (!r.ok() || o.help)
        return 0;
    FUZZ_CHECK(!o.dir.empty() && isSupportedBaud(o.baud) && !o.modules.empty());
    FUZZ_CHECK(within(o.loss, 1) && within(o.corrupt, 1) && within(o.latencyMs, 60000));
    FUZZ_CHECK(within(o.frameGapMs, 60000));
    std::set<std::string> names;
    for (const ModuleSpec& m : o.modules) {
        FUZZ_CHECK(!m.name.empty() && m.name.size() <= 64 && names.insert(m.name).second);
        FUZZ_CHECK(m.name.find('/') == std::string::npos && m.name != "." && m.name != "..");
        FUZZ_CHECK(m.name != kLockFileName); // its link would replace the lock
        FUZZ_CHECK(m.address >= 0 && m.address <= 255 && (m.baud == 0 || isSupportedBaud(m.baud)));
        FUZZ_CHECK(frameGap(o.frameGapMs, m.baud ? m.baud : o.baud) >=
                   (o.frameGapMs > 0 ? 1 : 2 * kMillisecond));
    }
    return 0;
}
