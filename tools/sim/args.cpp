#include "args.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

namespace rava::sim {

namespace {

constexpr int kBauds[] = {1200,  2400,   4800,   9600,   19200, 38400,
                          57600, 115200, 230400, 460800, 921600};

bool validName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name == "." || name == "..")
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

std::optional<int> parseBaud(const std::string& text) {
    const auto n = parseInteger(text);
    if (!n || *n > 921600 || !isSupportedBaud(int(*n)))
        return std::nullopt;
    return int(*n);
}

std::string badModule(const std::string& arg, const std::string& why) {
    return "bad module '" + arg + "': " + why;
}

// NAME=ROLE:ADDRESS[@BAUD]
std::optional<ModuleSpec> parseModule(const std::string& arg, std::string& error) {
    ModuleSpec m;
    const auto eq = arg.find('=');
    if (eq == std::string::npos) {
        error = badModule(arg, "expected NAME=ROLE:ADDRESS[@BAUD]");
        return std::nullopt;
    }
    m.name = arg.substr(0, eq);
    if (!validName(m.name)) {
        error = badModule(arg, "a name is 1 to 64 letters, digits, '_', '-' or '.'");
        return std::nullopt;
    }
    std::string rest = arg.substr(eq + 1);
    const auto colon = rest.find(':');
    if (colon == std::string::npos) {
        error = badModule(arg, "expected ROLE:ADDRESS after the name");
        return std::nullopt;
    }
    const std::string role = rest.substr(0, colon);
    if (role == "master") {
        m.role = Role::Master;
    } else if (role == "slave") {
        m.role = Role::Slave;
    } else if (role == "prog") {
        m.role = Role::Slave;
        m.programming = true;
    } else {
        error = badModule(arg, "unknown role '" + role + "' (master, slave or prog)");
        return std::nullopt;
    }
    rest = rest.substr(colon + 1);
    std::string address = rest;
    const auto at = rest.find('@');
    if (at != std::string::npos) {
        address = rest.substr(0, at);
        const auto baud = parseBaud(rest.substr(at + 1));
        if (!baud) {
            error = badModule(arg, "unsupported baud rate '" + rest.substr(at + 1) + "'");
            return std::nullopt;
        }
        m.baud = *baud;
    }
    const auto a = parseInteger(address);
    if (!a || *a < 0 || *a > 255) {
        error = badModule(arg, "the address must be a number from 0 to 255");
        return std::nullopt;
    }
    m.address = int(*a);
    return m;
}

std::string checkModules(const std::vector<ModuleSpec>& modules) {
    if (modules.empty())
        return "no modules given";
    std::set<std::string> names;
    std::set<int> slaveAddresses;
    for (const auto& m : modules) {
        if (!names.insert(m.name).second)
            return "module name '" + m.name + "' given twice";
        // The link would take the place of the lock that keeps a second
        // simulator out of the directory.
        if (m.name == kLockFileName)
            return "module name '" + m.name +
                   "' is the name of the simulator's lock file in the directory; choose another";
        // A master's packet names one slave address: two slaves on one
        // address would make it ambiguous. Masters' own addresses are not
        // used for routing, so masters may share one.
        if (m.role == Role::Slave && !slaveAddresses.insert(m.address).second)
            return "two slave modules have address " + std::to_string(m.address);
    }
    return {};
}

} // namespace

bool isSupportedBaud(int baud) {
    return std::find(std::begin(kBauds), std::end(kBauds), baud) != std::end(kBauds);
}

std::optional<long long> parseInteger(const std::string& text) {
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<double> parseProbability(const std::string& text) {
    const auto v = parseNumber(text);
    if (!v || *v > 1.0)
        return std::nullopt;
    return v;
}

Nanos frameGap(double frameGapMs, int baud) {
    // A gap given is above 0 even where it rounds to less than a nanosecond:
    // a gap of 0 would end a packet between any two bytes.
    if (frameGapMs > 0)
        return std::max<Nanos>(1, std::llround(frameGapMs * double(kMillisecond)));
    const Nanos gap = baud > 0 ? 35 * kSecond / baud : 0; // 3.5 characters of 10 bits
    return std::max(gap, 2 * kMillisecond);
}

std::string usage() {
    return "usage: rava2-sim --dir DIR [options] NAME=ROLE:ADDRESS[@BAUD] ...\n"
           "\n"
           "Simulates Rava 2 radio modules. Each module gets a pseudo-terminal whose\n"
           "station side is linked as DIR/NAME; a station opens that path as its serial\n"
           "port. ROLE is master, slave or prog (a slave powered up with jumper 3\n"
           "closed: it answers register requests and relays nothing). ADDRESS is 0-255.\n"
           "\n"
           "options:\n"
           "  --dir DIR         directory for the links (required)\n"
           "  --baud N          module baud rate (default 115200); NAME=...@N overrides it\n"
           "  --parity P        module parity at power-up: none, odd or even (default none)\n"
           "  --frame-gap MS    silence that ends a packet (default 3.5 characters, >= 2 ms)\n"
           "  --no-pacing       take and deliver bytes at once instead of at the line's\n"
           "                    speed (nothing is dropped: full queues hold back input)\n"
           "  --loss P          drop a packet with probability P (0-1)\n"
           "  --corrupt P       flip one bit of a byte with probability P (0-1); the\n"
           "                    receiving module's checksum then throws the packet away\n"
           "  --latency MS      delay every delivery by MS milliseconds\n"
           "  --seed N          seed of the fault generator (default 1)\n"
           "  --trace FILE      one line per packet to FILE ('-': standard output)\n"
           "  --help            this text\n"
           "\n"
           "Prints 'NAME PATH' for each module, then 'ready', and runs until SIGINT or\n"
           "SIGTERM. Console commands on standard input (each answered by 'ok ...' on\n"
           "standard output, or an error on standard error):\n"
           "  prog NAME on|off  enter or leave programming mode (leaving applies the\n"
           "                    address and parity registers)\n"
           "  baud NAME N       change a module's baud rate\n"
           "  loss P | corrupt P | latency MS\n"
           "  stats             packets and bytes per module, drops by cause, and\n"
           "                    packets whose framing was guessed (the reader was late)\n"
           "\n"
           "One simulator per directory: DIR/.rava2-sim.lock keeps a second one out (and\n"
           "no module may take that name).\n";
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    ParseResult r;
    Options& o = r.options;
    bool haveDir = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            auto m = parseModule(arg, r.error);
            if (!m)
                return r;
            o.modules.push_back(*m);
            continue;
        }
        std::string value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        auto flag = [&](const char* name) {
            if (inlineValue)
                r.error = std::string(name) + " takes no value";
            return r.error.empty();
        };
        auto next = [&](const char* name) {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size()) {
                r.error = std::string(name) + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto bad = [&](const char* name, const char* what) {
            r.error = std::string(name) + ": '" + value + "' is not " + what;
            return r;
        };
        if (arg == "--help") {
            if (!flag("--help"))
                return r;
            o.help = true;
        } else if (arg == "--no-pacing") {
            if (!flag("--no-pacing"))
                return r;
            o.pacing = false;
        } else if (arg == "--dir") {
            if (!next("--dir"))
                return r;
            if (value.empty())
                return bad("--dir", "a directory");
            o.dir = value;
            haveDir = true;
        } else if (arg == "--baud") {
            if (!next("--baud"))
                return r;
            const auto b = parseBaud(value);
            if (!b)
                return bad("--baud", "a supported baud rate");
            o.baud = *b;
        } else if (arg == "--parity") {
            if (!next("--parity"))
                return r;
            if (value == "none")
                o.parity = Parity::None;
            else if (value == "odd")
                o.parity = Parity::Odd;
            else if (value == "even")
                o.parity = Parity::Even;
            else
                return bad("--parity", "none, odd or even");
        } else if (arg == "--frame-gap") {
            if (!next("--frame-gap"))
                return r;
            const auto v = parseNumber(value);
            if (!v || *v <= 0 || *v > 60000)
                return bad("--frame-gap", "a time in milliseconds above 0");
            o.frameGapMs = *v;
        } else if (arg == "--loss" || arg == "--corrupt") {
            const bool loss = arg == "--loss";
            if (!next(loss ? "--loss" : "--corrupt"))
                return r;
            const auto p = parseProbability(value);
            if (!p)
                return bad(loss ? "--loss" : "--corrupt", "a probability from 0 to 1");
            (loss ? o.loss : o.corrupt) = *p;
        } else if (arg == "--latency") {
            if (!next("--latency"))
                return r;
            const auto v = parseNumber(value);
            if (!v || *v > 60000)
                return bad("--latency", "a time in milliseconds from 0 to 60000");
            o.latencyMs = *v;
        } else if (arg == "--seed") {
            if (!next("--seed"))
                return r;
            const auto v = parseInteger(value);
            if (!v)
                return bad("--seed", "a whole number");
            o.seed = std::uint64_t(*v);
        } else if (arg == "--trace") {
            if (!next("--trace"))
                return r;
            if (value.empty())
                return bad("--trace", "a file name");
            o.trace = value;
        } else {
            r.error = "unknown option " + arg;
            return r;
        }
    }
    if (o.help)
        return r;
    if (!haveDir) {
        r.error = "--dir is required";
        return r;
    }
    r.error = checkModules(o.modules);
    return r;
}

} // namespace rava::sim
