#include "console.h"

#include "args.h"

#include <sstream>
#include <vector>

namespace rava::sim {

namespace {

ParsedCommand fail(const std::string& why) {
    ParsedCommand p;
    p.error = why;
    return p;
}

} // namespace

ParsedCommand parseCommand(const std::string& line) {
    std::vector<std::string> words;
    {
        std::string text = line;
        for (auto& c : text)
            if (c == '\t' || c == '\r')
                c = ' ';
        std::istringstream in(text);
        std::string w;
        while (in >> w)
            words.push_back(w);
    }
    ParsedCommand p;
    Command& c = p.command;
    if (words.empty())
        return p;
    const std::string& verb = words[0];
    const size_t n = words.size();
    if (verb == "prog") {
        if (n != 3 || (words[2] != "on" && words[2] != "off"))
            return fail("usage: prog NAME on|off");
        c.kind = Command::Kind::Prog;
        c.module = words[1];
        c.on = words[2] == "on";
    } else if (verb == "baud") {
        if (n != 3)
            return fail("usage: baud NAME N");
        const auto b = parseInteger(words[2]);
        if (!b || *b > 921600 || !isSupportedBaud(int(*b)))
            return fail("baud: '" + words[2] + "' is not a supported baud rate");
        c.kind = Command::Kind::Baud;
        c.module = words[1];
        c.baud = int(*b);
    } else if (verb == "loss" || verb == "corrupt") {
        if (n != 2)
            return fail("usage: " + verb + " P");
        const auto v = parseProbability(words[1]);
        if (!v)
            return fail(verb + ": '" + words[1] + "' is not a probability from 0 to 1");
        c.kind = verb == "loss" ? Command::Kind::Loss : Command::Kind::Corrupt;
        c.value = *v;
    } else if (verb == "latency") {
        if (n != 2)
            return fail("usage: latency MS");
        const auto v = parseNumber(words[1]);
        if (!v || *v > 60000)
            return fail("latency: '" + words[1] + "' is not a time from 0 to 60000 ms");
        c.kind = Command::Kind::Latency;
        c.value = *v;
    } else if (verb == "stats" || verb == "help") {
        if (n != 1)
            return fail("usage: " + verb);
        c.kind = verb == "stats" ? Command::Kind::Stats : Command::Kind::Help;
    } else {
        return fail("unknown command '" + verb + "' (try help)");
    }
    return p;
}

std::string consoleHelp() {
    return "commands: prog NAME on|off, baud NAME N, loss P, corrupt P, latency MS, stats, help";
}

} // namespace rava::sim
