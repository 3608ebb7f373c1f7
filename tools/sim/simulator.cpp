#include "simulator.h"

#include "router.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rava::sim {

namespace {

// How often a module without a station looks for one to appear.
constexpr Nanos kProbeInterval = 10 * kMillisecond;
// Longest sleep of the loop when nothing is due.
constexpr Nanos kIdleWait = 1000 * kMillisecond;
constexpr std::size_t kMaxConsoleLine = 4096;
// Bytes kept for a station that does not read.
constexpr std::size_t kMaxBacklog = 65536;

Nanos millis(double ms) {
    return Nanos(std::llround(ms * double(kMillisecond)));
}

std::string joinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/')
        return dir + name;
    return dir + '/' + name;
}

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string& line) {
    std::fprintf(stderr, "rava2-sim: %s\n", line.c_str());
}

std::string join(const std::string& a, const std::string& b) {
    if (a.empty())
        return b;
    return b.empty() ? a : a + ',' + b;
}

} // namespace

Module::Module(const ModuleSpec& def, const Options& options)
    : name(def.name), role(def.role), address(def.address), parity(options.parity),
      baud(def.baud ? def.baud : options.baud), programming(def.programming),
      registers(std::uint8_t(def.address), options.parity),
      framer(frameGap(options.frameGapMs, baud)), pacer(options.pacing ? baud : 0),
      link(joinPath(options.dir, def.name)) {}

Simulator::Simulator(const Options& options)
    : options_(options), faults_(options.seed), latency_(millis(options.latencyMs)) {
    faults_.loss = options.loss;
    faults_.corrupt = options.corrupt;
    modules_.reserve(options.modules.size());
    for (const auto& def : options.modules)
        modules_.emplace_back(def, options);
    start_ = now();
}

Simulator::~Simulator() {
    removeLinks();
}

Nanos Simulator::now() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Simulator::checkPlaces(std::string& error) const {
    struct stat st {};
    if (::stat(options_.dir.c_str(), &st) != 0) {
        error = "cannot use directory '" + options_.dir + "': " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "'" + options_.dir + "' is not a directory";
        return false;
    }
    if (::access(options_.dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write to directory '" + options_.dir + "': " + std::strerror(errno);
        return false;
    }
    for (const auto& m : modules_) {
        struct stat ls {};
        // A link left by an earlier run is replaced; anything else is kept.
        if (::lstat(m.link.c_str(), &ls) == 0 && !S_ISLNK(ls.st_mode)) {
            error = "'" + m.link + "' exists and is not a link";
            return false;
        }
    }
    return true;
}

bool Simulator::start(std::string& error) {
    if (!checkPlaces(error))
        return false;
    if (!options_.trace.empty() && !trace_.open(options_.trace)) {
        error = "cannot write trace '" + options_.trace + "': " + std::strerror(errno);
        return false;
    }
    for (auto& m : modules_) {
        auto port = PtyPort::create(m.line(), error);
        if (!port) {
            removeLinks();
            return false;
        }
        m.port = std::move(*port);
        ::unlink(m.link.c_str());
        if (::symlink(m.port.stationPath().c_str(), m.link.c_str()) != 0) {
            error = "cannot create link '" + m.link + "': " + std::strerror(errno);
            removeLinks();
            return false;
        }
        m.linked = true;
    }
    start_ = now();
    return true;
}

void Simulator::removeLinks() {
    for (auto& m : modules_) {
        if (!m.linked)
            continue;
        // Only our own link: someone may have put another in its place.
        char target[512];
        const ssize_t n = ::readlink(m.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, size_t(n)) == m.port.stationPath())
            ::unlink(m.link.c_str());
        m.linked = false;
    }
}

void Simulator::announce() const {
    for (const auto& m : modules_)
        say(m.name + ' ' + m.port.stationPath());
    say("ready");
}

void Simulator::trace(Nanos t, const std::string& from, const std::string& to, const Bytes& bytes,
                      const std::string& note) {
    if (trace_.active())
        trace_.write(formatTrace(sinceStart(t), from, to, bytes, note));
}

Nanos Simulator::pollTimeout(Nanos t) const {
    Nanos due = t + kIdleWait;
    for (const auto& m : modules_) {
        if (auto d = m.framer.deadline())
            due = std::min(due, *d);
        if (!m.present)
            due = std::min(due, m.nextProbe);
        else if (auto d = m.pacer.deadline())
            due = std::min(due, *d);
    }
    return std::max<Nanos>(0, due - t);
}

int Simulator::run(int stopFd) {
    std::vector<pollfd> fds;
    for (;;) {
        const Nanos before = now();
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({consoleOpen_ ? STDIN_FILENO : -1, POLLIN, 0});
        for (const auto& m : modules_) {
            short events = POLLIN;
            if (!m.backlog.empty())
                events |= POLLOUT;
            // A module without a station is probed on a timer instead: its
            // descriptor would report POLLHUP without end.
            fds.push_back({m.present ? m.port.fd() : -1, events, 0});
        }
        const Nanos wait = pollTimeout(before);
        const timespec ts{time_t(wait / kSecond), long(wait % kSecond)};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) {
            complain(std::string("poll failed: ") + std::strerror(errno));
            return 1;
        }
        if (fds[0].revents)
            return 0;
        if (fds[1].revents)
            readConsole();
        const Nanos t = now();
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            Module& m = modules_[i];
            if (m.present && fds[i + 2].revents)
                readStation(m, t);
            else if (!m.present && t >= m.nextProbe)
                probe(m, t);
        }
        for (std::size_t i = 0; i < modules_.size(); ++i)
            while (auto packet = modules_[i].framer.take(t))
                handlePacket(i, std::move(*packet), t);
        for (auto& m : modules_)
            flushOutput(m, t);
    }
}

void Simulator::probe(Module& m, Nanos t) {
    if (m.port.stationPresent()) {
        m.present = true;
        m.protocol.reset();
    } else {
        m.nextProbe = t + kProbeInterval;
    }
}

void Simulator::stationGone(Module& m) {
    m.present = false;
    m.nextProbe = 0;
    m.pacer.clear();
    m.backlog.clear();
    m.port.flush();
}

void Simulator::readStation(Module& m, Nanos t) {
    std::uint8_t buf[4096];
    bool gone = false;
    for (;;) {
        const ssize_t n = ::read(m.port.fd(), buf, sizeof buf);
        if (n > 0) {
            // A station whose line differs from the module's reads garbage
            // into the module.
            const auto station = m.port.stationLine();
            if (station && *station != m.line()) {
                const auto key = garbleKey(options_.seed, *station, m.line());
                for (ssize_t i = 0; i < n; ++i)
                    buf[i] = garble(buf[i], key);
            }
            m.framer.feed(buf, std::size_t(n), t);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EIO (or end of file) once no process holds the station side.
        gone = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (gone || !m.port.stationPresent())
        stationGone(m);
}

void Simulator::handlePacket(std::size_t from, Bytes packet, Nanos t) {
    Module& src = modules_[from];
    src.stats.inPackets++;
    src.stats.inBytes += packet.size();

    if (src.programming) {
        const Bytes replies = src.protocol.feed(packet, t, src.registers);
        trace(t, src.name, "", packet, "register");
        if (!replies.empty() && src.present) {
            src.pacer.push(replies, t);
            src.stats.outPackets++;
            trace(t, src.name, src.name, replies, "reply");
        }
        return;
    }

    std::vector<Station> stations;
    stations.reserve(modules_.size());
    for (const auto& m : modules_)
        stations.push_back({m.role, m.address, m.programming});
    Route r = route(stations, from, packet);
    if (r.deliveries.empty()) {
        src.stats.dropped++;
        dropped_++;
        trace(t, src.name, "", packet, unroutedName(r.reason));
        return;
    }
    bool reached = false;
    for (auto& d : r.deliveries) {
        Module& dst = modules_[d.to];
        // A station may have opened its port since the last probe.
        if (!dst.present)
            probe(dst, t);
        if (!dst.present) {
            trace(t, src.name, "", d.bytes, "absent:" + dst.name);
            continue;
        }
        if (faults_.lose()) {
            trace(t, src.name, "", d.bytes, "lost:" + dst.name);
            continue;
        }
        std::string note;
        if (const int n = faults_.damage(d.bytes)) {
            dst.stats.corrupted += std::uint64_t(n);
            corrupted_ += std::uint64_t(n);
            note = "corrupted:" + std::to_string(n);
        }
        const auto line = dst.port.stationLine();
        if (line && *line != dst.line())
            note = join(note, "mismatch");
        dst.pacer.push(d.bytes, t + latency_);
        dst.stats.outPackets++;
        reached = true;
        trace(t, src.name, dst.name, d.bytes, note);
    }
    if (!reached) {
        src.stats.dropped++;
        dropped_++;
    }
}

void Simulator::flushOutput(Module& m, Nanos t) {
    if (!m.present)
        return;
    Bytes due = m.pacer.take(t);
    if (!due.empty()) {
        // The station reads its line at its own setting: a mismatch garbles.
        const auto station = m.port.stationLine();
        if (station && *station != m.line()) {
            const auto key = garbleKey(options_.seed, *station, m.line());
            for (auto& b : due)
                b = garble(b, key);
        }
        m.backlog.insert(m.backlog.end(), due.begin(), due.end());
        if (m.backlog.size() > kMaxBacklog)
            m.backlog.erase(m.backlog.begin(),
                            m.backlog.begin() + std::ptrdiff_t(m.backlog.size() - kMaxBacklog));
    }
    while (!m.backlog.empty()) {
        const ssize_t n = ::write(m.port.fd(), m.backlog.data(), m.backlog.size());
        if (n > 0) {
            m.stats.outBytes += std::uint64_t(n);
            m.backlog.erase(m.backlog.begin(), m.backlog.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            stationGone(m);
        break;
    }
}

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
        if (!consoleBuffer_.empty())
            command(consoleBuffer_);
        consoleBuffer_.clear();
        return;
    }
    consoleBuffer_.append(buf, size_t(n));
    std::size_t nl;
    while ((nl = consoleBuffer_.find('\n')) != std::string::npos) {
        const std::string line = consoleBuffer_.substr(0, nl);
        consoleBuffer_.erase(0, nl + 1);
        command(line);
    }
    if (consoleBuffer_.size() > kMaxConsoleLine) {
        complain("console line too long, ignored");
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
    for (const auto& m : modules_) {
        const auto line = m.port.stationLine();
        const ModuleStats& s = m.stats;
        say("stats " + m.name + " role=" + roleName(m.role) +
            " address=" + std::to_string(m.address) + " baud=" + std::to_string(m.baud) +
            " parity=" + parityName(m.parity) + " prog=" + (m.programming ? "on" : "off") +
            " station=" + (m.present ? "open" : "closed") + " line=" +
            (line ? describe(*line) : "?") + " in_packets=" + std::to_string(s.inPackets) +
            " in_bytes=" + std::to_string(s.inBytes) + " out_packets=" +
            std::to_string(s.outPackets) + " out_bytes=" + std::to_string(s.outBytes) +
            " dropped=" + std::to_string(s.dropped) + " corrupted=" + std::to_string(s.corrupted));
    }
    say("ok stats dropped=" + std::to_string(dropped_) +
        " corrupted=" + std::to_string(corrupted_));
}

} // namespace rava::sim
