// The console: its lines, the commands and the statistics.
#include "simulator.h"
#include "simulator_common.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace rava::sim {

Module* Simulator::find(const std::string& name) {
    for (auto& m : modules_)
        if (m.name == name)
            return &m;
    return nullptr;
}

void Simulator::readConsole() {
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input (or no usable input): the simulation goes on.
        consoleOpen_ = false;
        if (!consoleBuffer_.empty() && !consoleSkipping_)
            command(consoleBuffer_);
        consoleBuffer_.clear();
        return;
    }
    consoleBuffer_.append(buf, size_t(n));
    std::size_t nl;
    while ((nl = consoleBuffer_.find('\n')) != std::string::npos) {
        const bool refused = consoleSkipping_ || nl > kMaxConsoleLine;
        if (nl > kMaxConsoleLine && !consoleSkipping_)
            complain("console line longer than " + std::to_string(kMaxConsoleLine) +
                     " bytes, ignored");
        if (!refused)
            command(consoleBuffer_.substr(0, nl));
        consoleBuffer_.erase(0, nl + 1);
        consoleSkipping_ = false;
    }
    if (consoleBuffer_.size() > kMaxConsoleLine) {
        // Refused once, whole: the rest of it is dropped up to its end.
        if (!consoleSkipping_)
            complain("console line longer than " + std::to_string(kMaxConsoleLine) +
                     " bytes, ignored");
        consoleSkipping_ = true;
        consoleBuffer_.clear();
    }
}

void Simulator::command(const std::string& line) {
    const ParsedCommand p = parseCommand(line);
    if (!p.error.empty()) {
        complain(p.error);
        return;
    }
    const Command& c = p.command;
    Module* m = nullptr;
    if (c.kind == Command::Kind::Prog || c.kind == Command::Kind::Baud) {
        m = find(c.module);
        if (!m) {
            complain("no module named '" + c.module + "'");
            return;
        }
    }
    char text[64];
    switch (c.kind) {
    case Command::Kind::None:
        return;
    case Command::Kind::Help:
        say(consoleHelp());
        return;
    case Command::Kind::Prog:
        if (c.on) {
            if (!m->programming)
                m->protocol.reset();
            m->programming = true;
            say("ok prog " + m->name + " on");
            return;
        }
        if (m->programming) {
            // Leaving programming mode is a power-up with jumper 3 open:
            // the module takes its address and parity from the EEPROM.
            m->programming = false;
            m->address = m->registers.get(kAddressRegister);
            m->parity = parityFromRegister(m->registers.get(kParityRegister));
            for (const auto& other : modules_)
                if (&other != m && other.role == Role::Slave && m->role == Role::Slave &&
                    !other.programming && other.address == m->address)
                    complain("note: " + m->name + " and " + other.name + " share address " +
                             std::to_string(m->address) + "; both receive its packets");
        }
        say("ok prog " + m->name + " off address=" + std::to_string(m->address) +
            " parity=" + parityName(m->parity));
        return;
    case Command::Kind::Baud:
        m->baud = c.baud;
        m->pacer.setBaud(options_.pacing ? c.baud : 0);
        m->intake.setBaud(options_.pacing ? c.baud : 0);
        m->framer.setGap(frameGap(options_.frameGapMs, c.baud));
        say("ok baud " + m->name + " " + std::to_string(c.baud));
        return;
    case Command::Kind::Loss:
        faults_.loss = c.value;
        std::snprintf(text, sizeof text, "ok loss %g", c.value);
        say(text);
        return;
    case Command::Kind::Corrupt:
        faults_.corrupt = c.value;
        std::snprintf(text, sizeof text, "ok corrupt %g", c.value);
        say(text);
        return;
    case Command::Kind::Latency:
        latency_ = millis(c.value);
        std::snprintf(text, sizeof text, "ok latency %g", c.value);
        say(text);
        return;
    case Command::Kind::Stats:
        printStats();
        return;
    }
}

void Simulator::printStats() const {
    ModuleStats total;
    for (const auto& m : modules_) {
        const auto line = m.port.stationLine();
        const ModuleStats& s = m.stats;
        total.lost += s.lost;
        total.rejected += s.rejected;
        total.unrouted += s.unrouted;
        total.empty += s.empty;
        total.programming += s.programming;
        total.absent += s.absent;
        total.oversize += s.oversize;
        total.undelivered += s.undelivered;
        total.guessed += s.guessed;
        say("stats " + m.name + " role=" + roleName(m.role) +
            " address=" + std::to_string(m.address) + " baud=" + std::to_string(m.baud) +
            " parity=" + parityName(m.parity) + " prog=" + (m.programming ? "on" : "off") +
            " station=" + (m.present() ? "open" : "closed") + " line=" +
            (line ? describe(*line) : "?") + " in_packets=" + std::to_string(s.inPackets) +
            " in_bytes=" + std::to_string(s.inBytes) + " out_packets=" +
            std::to_string(s.outPackets) + " out_bytes=" + std::to_string(s.outBytes) +
            " dropped=" + std::to_string(s.dropped) + " lost=" + std::to_string(s.lost) +
            " rejected=" + std::to_string(s.rejected) + " unrouted=" + std::to_string(s.unrouted) +
            " empty=" + std::to_string(s.empty) + " programming=" + std::to_string(s.programming) +
            " absent=" + std::to_string(s.absent) + " oversize=" + std::to_string(s.oversize) +
            " undelivered=" + std::to_string(s.undelivered) +
            " guessed=" + std::to_string(s.guessed));
    }
    say("ok stats dropped=" + std::to_string(dropped_) + " lost=" + std::to_string(total.lost) +
        " rejected=" + std::to_string(total.rejected) +
        " unrouted=" + std::to_string(total.unrouted) + " empty=" + std::to_string(total.empty) +
        " programming=" + std::to_string(total.programming) +
        " absent=" + std::to_string(total.absent) + " oversize=" + std::to_string(total.oversize) +
        " undelivered=" + std::to_string(total.undelivered) +
        " guessed=" + std::to_string(total.guessed));
}

} // namespace rava::sim
