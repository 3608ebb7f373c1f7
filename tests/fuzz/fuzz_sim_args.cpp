// The simulator's command line: the input is split at NUL bytes into
// arguments. Whatever they are, parsing ends with either an error sentence
// or options that hold only what the simulator can run with.
#include "args.h"
#include "fuzz_support.h"

#include <cmath>
#include <set>

using namespace rava::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    std::string arg;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg.push_back(char(data[i]));
        }
    }
    if (size)
        args.push_back(arg);

    const ParseResult r = parseArguments(args);
    if (!r.ok()) {
        FUZZ_CHECK(r.error.size() < 4096);
        return 0;
    }
    const Options& o = r.options;
    if (o.help)
        return 0;
    FUZZ_CHECK(!o.dir.empty());
    FUZZ_CHECK(isSupportedBaud(o.baud));
    FUZZ_CHECK(o.loss >= 0 && o.loss <= 1);
    FUZZ_CHECK(o.corrupt >= 0 && o.corrupt <= 1);
    FUZZ_CHECK(std::isfinite(o.latencyMs) && o.latencyMs >= 0 && o.latencyMs <= 60000);
    FUZZ_CHECK(std::isfinite(o.frameGapMs) && o.frameGapMs >= 0 && o.frameGapMs <= 60000);
    FUZZ_CHECK(!o.modules.empty());
    std::set<std::string> names;
    for (const ModuleSpec& m : o.modules) {
        FUZZ_CHECK(!m.name.empty() && m.name.size() <= 64);
        FUZZ_CHECK(m.name.find('/') == std::string::npos && m.name != "." && m.name != "..");
        FUZZ_CHECK(names.insert(m.name).second);
        FUZZ_CHECK(m.address >= 0 && m.address <= 255);
        FUZZ_CHECK(m.baud == 0 || isSupportedBaud(m.baud));
        const Nanos gap = frameGap(o.frameGapMs, m.baud ? m.baud : o.baud);
        FUZZ_CHECK(gap >= 2 * kMillisecond || o.frameGapMs > 0);
        FUZZ_CHECK(gap > 0);
    }
    return 0;
}
