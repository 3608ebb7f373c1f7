#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace rava::sim {

namespace {

// How often a module without a station looks for one to appear, where the
// station devices cannot be watched.
constexpr Nanos kProbeInterval = 1000 * kMillisecond;
constexpr std::size_t kMaxConsoleLine = 4096;
// Longest packet a station may write.
constexpr std::size_t kMaxPacket = 65536;
// Bytes queued for a station: two of the longest packets as delivered (a
// slave's with the address in front), so that one can be sent while the
// next comes in.
constexpr std::size_t kOutputBound = 2 * (kMaxPacket + 1);
// Most bytes taken from one unpaced station per pass of the loop, so that
// a station writing without pause does not starve the others.
constexpr std::size_t kUnpacedTurn = 4 * 65536;
// The module's receive buffer: how far it reads ahead of a paced line (as
// a station's serial driver would hold a few writes ahead of its line).
constexpr std::size_t kLookahead = 16384;
// Bytes that come this long after the last ones, while the line is still
// busy with those, are the station's next write. Long enough that a kernel
// slow to pass on the rest of one write does not cut it.
constexpr Nanos kWriteGap = 10 * kMillisecond;
constexpr std::size_t kUnpacedLookahead = 65536;
// How soon to look again at a packet whose gap has passed while the reader
// is in the middle of reading (its bytes may belong to the packet).
constexpr Nanos kReaderBusy = 200'000;

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
      intake(options.pacing ? baud : 0, options.pacing ? kLookahead : kUnpacedLookahead),
      framer(frameGap(options.frameGapMs, baud), kMaxPacket,
             def.role == Role::Slave ? Framer::Overflow::Cut : Framer::Overflow::Drop),
      pacer(options.pacing ? baud : 0, kOutputBound), link(joinPath(options.dir, def.name)) {}

Simulator::Simulator(const Options& options)
    : options_(options), faults_(options.seed), latency_(millis(options.latencyMs)),
      readBuffer_(65536) {
    faults_.loss = options.loss;
    faults_.corrupt = options.corrupt;
    modules_.reserve(options.modules.size());
    for (const auto& def : options.modules)
        modules_.emplace_back(def, options);
    scratch_.reserve(kMaxPacket + 1);
}

Simulator::~Simulator() {
    removeLinks();
    unlockDirectory();
    if (inotify_ >= 0)
        ::close(inotify_);
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

bool Simulator::lockDirectory(std::string& error) {
    lockPath_ = joinPath(options_.dir, kLockFileName);
    // The lock is on the file a path names at the moment; a simulator that
    // is ending removes it, so the lock only counts once the path still
    // names the locked file.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot create lock file '" + lockPath_ + "': " + std::strerror(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            char pid[32] = {};
            const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
            ::close(fd);
            if (why == EWOULDBLOCK) {
                std::string holder = n > 0 ? std::string(pid, std::size_t(n)) : std::string();
                holder.erase(holder.find_last_not_of(" \n") + 1);
                error = "directory '" + options_.dir + "' is in use by another rava2-sim" +
                        (holder.empty() ? std::string() : " (pid " + holder + ")") +
                        "; stop it or choose another --dir";
            } else {
                error = "cannot lock '" + lockPath_ + "': " + std::strerror(why);
            }
            return false;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::lstat(lockPath_.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
                // The pid is only a courtesy for the message above.
            }
            lockFd_ = fd;
            return true;
        }
        ::close(fd);
    }
    error = "cannot lock '" + lockPath_ + "': it keeps changing";
    return false;
}

void Simulator::unlockDirectory() {
    if (lockFd_ < 0)
        return;
    ::unlink(lockPath_.c_str());
    ::close(lockFd_);
    lockFd_ = -1;
}

bool Simulator::start(std::string& error) {
    if (!checkPlaces(error) || !lockDirectory(error))
        return false;
    if (!options_.trace.empty() && !trace_.open(options_.trace)) {
        error = "cannot write trace '" + options_.trace + "': " + std::strerror(errno);
        unlockDirectory();
        return false;
    }
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (auto& m : modules_) {
        auto port = PtyPort::create(m.line(), error);
        if (!port) {
            removeLinks();
            unlockDirectory();
            return false;
        }
        m.port = std::move(*port);
        watchStation(m);
        ::unlink(m.link.c_str());
        if (::symlink(m.port.stationPath().c_str(), m.link.c_str()) != 0) {
            error = "cannot create link '" + m.link + "': " + std::strerror(errno);
            removeLinks();
            unlockDirectory();
            return false;
        }
        m.linked = true;
    }
    std::vector<StationReader::Lane> lanes;
    for (const auto& m : modules_)
        lanes.push_back({m.port.fd(), m.intake.room()});
    if (!reader_.start(lanes, error)) {
        removeLinks();
        unlockDirectory();
        return false;
    }
    return true;
}

void Simulator::watchStation(Module& m) {
    if (inotify_ >= 0)
        m.watch = ::inotify_add_watch(inotify_, m.port.stationPath().c_str(),
                                      IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
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

void Simulator::trace(Nanos t, const std::string& from, const std::string& to,
                      const std::uint8_t* bytes, std::size_t size, std::size_t length,
                      const std::string& note) {
    if (!trace_.active())
        return;
    formatTrace(traceLine_, t, from, to, bytes, size, length, note);
    if (!trace_.write(traceLine_))
        complain("cannot write trace '" + options_.trace + "': " + std::strerror(errno) +
                 "; tracing stops");
}

std::optional<Nanos> Simulator::pollTimeout() const {
    std::optional<Nanos> due;
    auto consider = [&due](std::optional<Nanos> d) {
        if (d && (!due || *d < *due))
            due = d;
    };
    for (const auto& m : modules_) {
        // A held packet that can go now (its receiver's queue emptied after
        // it was last tried) goes at once.
        if (m.held && deliverable(m))
            consider(Nanos(0));
        if (!m.held) {
            consider(m.intake.deadline());
            // A packet closes after the gap only once nothing more waits:
            // while the reader is reading, look again shortly.
            const auto closes = m.intake.busy() ? std::nullopt : m.framer.deadline();
            const std::size_t i = std::size_t(&m - modules_.data());
            if (closes && !reader_.quiet(i))
                consider(std::max(*closes, now() + kReaderBusy));
            else
                consider(closes);
        }
        if (m.present && !m.writeBlocked)
            consider(m.pacer.deadline());
        if (!m.present && m.watch < 0)
            consider(m.nextProbe);
    }
    return due;
}

int Simulator::run(int stopFd) {
    // Wake-ups are few and each one is due to the microsecond (the end of a
    // frame gap, a byte leaving): no slack for the kernel to batch them.
    ::prctl(PR_SET_TIMERSLACK, 1000UL);
    std::vector<pollfd> fds;
    constexpr std::size_t kFirstModule = 4;
    for (;;) {
        fds.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({consoleOpen_ ? STDIN_FILENO : -1, POLLIN, 0});
        fds.push_back({inotify_, POLLIN, 0});
        fds.push_back({reader_.wakeFd(), POLLIN, 0});
        for (const auto& m : modules_) {
            // The reader takes the station's bytes; here only room to write
            // to it, and its going (POLLHUP), are watched.
            const short events = m.writeBlocked ? POLLOUT : 0;
            // A module without a station is left out: its descriptor would
            // report POLLHUP without end.
            fds.push_back({m.present ? m.port.fd() : -1, events, 0});
        }
        const auto due = pollTimeout();
        timespec ts{};
        if (due) {
            const Nanos wait = std::max<Nanos>(0, *due - now());
            ts = {time_t(wait / kSecond), long(wait % kSecond)};
        }
        if (::ppoll(fds.data(), fds.size(), due ? &ts : nullptr, nullptr) < 0 && errno != EINTR) {
            complain(std::string("poll failed: ") + std::strerror(errno));
            return 1;
        }
        if (fds[0].revents)
            return 0;
        if (fds[1].revents)
            readConsole();
        if (fds[3].revents & POLLIN) {
            reader_.clearWake();
        } else if (fds[3].revents) {
            complain("the process reading the stations ended");
            return 1;
        }
        const Nanos t = now();
        // Packets the line closed before this wake-up, judged before new
        // bytes count.
        for (std::size_t i = 0; i < modules_.size(); ++i)
            collect(i, t);
        if (fds[2].revents)
            readWatches(t);
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            Module& m = modules_[i];
            const short r = fds[i + kFirstModule].revents;
            if (!m.present || !r)
                continue;
            if (r & POLLOUT)
                m.writeBlocked = false;
            if (r & (POLLHUP | POLLERR | POLLNVAL))
                stationLeft(m, t);
        }
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            Module& m = modules_[i];
            if (!m.present && m.watch < 0 && t >= m.nextProbe)
                probe(m, t);
        }
        for (auto& m : modules_)
            release(m, t);
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            collect(i, t);
            readStation(i, t);
        }
        for (auto& m : modules_)
            release(m, t);
    }
}

void Simulator::readWatches(Nanos t) {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            off += ssize_t(sizeof(inotify_event) + e->len);
            for (auto& m : modules_)
                if (m.watch == e->wd && !m.present)
                    probe(m, t);
        }
    }
}

void Simulator::probe(Module& m, Nanos t) {
    // A station may also have written and closed before it was noticed:
    // what it wrote is still there to be taken.
    reader_.watch(index(m));
    if (m.port.stationPresent()) {
        m.present = true;
        m.writeBlocked = false;
        m.protocol.reset();
        return;
    }
    m.nextProbe = t + kProbeInterval;
}

void Simulator::stationLeft(Module& m, Nanos t, bool unread) {
    m.present = false;
    m.writeBlocked = false;
    m.nextProbe = t + kProbeInterval;
    // What it wrote before it went is taken still.
    if (unread)
        reader_.watch(index(m));
    if (m.pacer.empty())
        return;
    const std::size_t dropped = m.pacer.clear();
    m.stats.undelivered += dropped;
    m.port.discardOutput();
    trace(t, "", m.name, nullptr, 0, dropped, "undelivered");
}

void Simulator::collect(std::size_t i, Nanos t) {
    Module& m = modules_[i];
    if (m.held)
        deliver(i, t);
    while (!m.held && m.framer.take(t, lineIdle(i), m.packet))
        dispatch(i, t);
}

bool Simulator::lineIdle(std::size_t i) const {
    return !modules_[i].intake.busy() && reader_.quiet(i);
}

void Simulator::takeChunks(std::size_t i, Nanos t) {
    Module& m = modules_[i];
    // Whether the station's line differs from the module's, so that it
    // reads garbage into the module: looked up at the first byte.
    std::optional<std::uint64_t> garbling;
    bool mismatch = false;
    Chunk c;
    // What the reader holds always fits: it reads no further ahead.
    while (reader_.next(i, c, chunk_)) {
        if (c.gone) {
            // A station may have opened it again since the reader found it
            // closed (perhaps before the module saw it go): the reader
            // watches it again.
            if (m.port.stationPresent())
                reader_.watch(i);
            else if (m.present)
                stationLeft(m, t, false);
            continue;
        }
        if (!garbling) {
            const auto station = m.port.stationLine();
            mismatch = station && *station != m.line();
            garbling = mismatch ? garbleKey(options_.seed, *station, m.line()) : 0;
        }
        if (mismatch)
            for (auto& b : chunk_)
                b = garble(b, *garbling);
        Intake::Arrival a;
        a.stamp = c.stamp;
        a.fresh = c.fresh;
        a.lateness = c.lateness;
        a.gap = m.framer.gap();
        a.writeGap = std::max(m.framer.gap(), kWriteGap);
        m.intake.fill(chunk_.data(), chunk_.size(), a);
    }
}

void Simulator::readStation(std::size_t i, Nanos t) {
    Module& m = modules_[i];
    std::uint8_t* buf = readBuffer_.data();
    std::size_t turn = kUnpacedTurn;
    for (;;) {
        takeChunks(i, t);
        if (m.held)
            break;
        // Hand on what has arrived on the line.
        const std::size_t n = std::min({m.intake.due(t), m.framer.room(), readBuffer_.size()});
        if (n > 0) {
            const bool late = m.intake.take(n, buf);
            m.framer.feed(buf, n, m.intake.cursor(), late);
            reader_.handedOn(i, m.intake.handedOn());
        }
        if (m.intake.takeWriteEnd())
            m.framer.endPacket();
        if (m.framer.room() == 0 || m.framer.deadline() == Nanos(0)) {
            collect(i, t); // a packet cut at the bound, or a write's end
            if (m.held)
                break;
            if (n == 0)
                continue;
        }
        if (n == 0 || turn <= n)
            break;
        turn -= n;
    }
    collect(i, t);
}

bool Simulator::deliverable(const Module& src) const {
    const std::size_t size =
        (src.route.hasPrefix ? 1 : 0) + src.packet.bytes.size() - src.route.strip;
    for (const std::size_t to : src.route.to) {
        const Module& dst = modules_[to];
        if (!dst.present || size <= dst.pacer.room())
            return true;
    }
    return false;
}

void Simulator::dispatch(std::size_t i, Nanos t) {
    Module& src = modules_[i];
    Packet& p = src.packet;
    src.stats.inPackets++;
    src.stats.inBytes += p.length;
    // Every trace line of a packet whose framing was a guess says so.
    const std::string guessed = p.guessed ? "guessed" : "";
    if (p.guessed)
        src.stats.guessed++;

    if (p.oversize) {
        src.stats.oversize++;
        src.stats.dropped++;
        dropped_++;
        trace(t, src.name, "", p.bytes.data(), std::min<std::size_t>(p.bytes.size(), 16), p.length,
              join("oversize", guessed));
        return;
    }
    if (src.programming) {
        const Bytes replies = src.protocol.feed(p.bytes, t, src.registers);
        trace(t, src.name, "", p.bytes, join("register", guessed));
        if (replies.empty())
            return;
        p.bytes = replies;
        src.reply = true;
        src.route = Route{};
        src.route.to.push_back(i);
    } else {
        std::vector<Station> stations;
        stations.reserve(modules_.size());
        for (const auto& m : modules_)
            stations.push_back({m.role, m.address, m.programming});
        src.route = rava::sim::route(stations, i, p.bytes);
        if (src.route.to.empty()) {
            src.stats.dropped++;
            dropped_++;
            const Unrouted why = src.route.reason;
            (why == Unrouted::Empty         ? src.stats.empty
             : why == Unrouted::Programming ? src.stats.programming
                                            : src.stats.unrouted)++;
            trace(t, src.name, "", p.bytes, join(unroutedName(why), guessed));
            return;
        }
        src.reply = false;
    }
    src.held = true;
    src.reached = false;
    src.heldSince = t;
    deliver(i, t);
}

void Simulator::deliver(std::size_t i, Nanos t) {
    Module& src = modules_[i];
    const Packet& p = src.packet;
    const Route& r = src.route;
    const std::size_t size = (r.hasPrefix ? 1 : 0) + p.bytes.size() - r.strip;
    const std::string base = join(p.cut ? "cut" : "", p.guessed && !src.reply ? "guessed" : "");
    auto& waiting = src.route.to;
    for (auto it = waiting.begin(); it != waiting.end();) {
        Module& dst = modules_[*it];
        // A station may have opened its side since it was last looked at.
        if (!dst.present)
            probe(dst, t);
        if (dst.present && size > dst.pacer.room()) {
            ++it; // waits for the station to take what is queued
            continue;
        }
        scratch_.clear();
        if (r.hasPrefix)
            scratch_.push_back(r.prefix);
        scratch_.insert(scratch_.end(), p.bytes.begin() + std::ptrdiff_t(r.strip), p.bytes.end());
        if (!dst.present) {
            src.stats.absent++;
            trace(t, src.name, "", scratch_, join("absent:" + dst.name, base));
            it = waiting.erase(it);
            continue;
        }
        std::string note = base;
        if (!src.reply) {
            if (faults_.lose()) {
                src.stats.lost++;
                trace(t, src.name, "", scratch_, join("lost:" + dst.name, note));
                it = waiting.erase(it);
                continue;
            }
            // The receiving module checks every radio packet and throws a
            // damaged one away: bit errors show to the station as a loss.
            if (const int n = faults_.damage(scratch_)) {
                src.stats.rejected++;
                trace(t, src.name, "", scratch_,
                      join("checksum:" + dst.name + ":" + std::to_string(n), note));
                it = waiting.erase(it);
                continue;
            }
        }
        // The station reads its line at its own setting: a mismatch garbles.
        const auto line = dst.port.stationLine();
        if (line && *line != dst.line()) {
            if (!src.reply)
                note = join(note, "mismatch");
            const auto key = garbleKey(options_.seed, *line, dst.line());
            for (auto& b : scratch_)
                b = garble(b, key);
        }
        if (src.reply) {
            trace(t, src.name, dst.name, scratch_, "reply");
            dst.pacer.push(scratch_, t);
        } else {
            dst.pacer.push(scratch_, t + latency_);
            trace(t, src.name, dst.name, scratch_, note);
        }
        dst.stats.outPackets++;
        src.reached = true;
        it = waiting.erase(it);
    }
    if (!waiting.empty())
        return;
    src.held = false;
    if (!src.reached && !src.reply) {
        src.stats.dropped++;
        dropped_++;
    }
    // The station's bytes waited in the kernel meanwhile: the line starts
    // again now.
    if (src.heldSince != t)
        src.intake.resume(t);
}

void Simulator::release(Module& m, Nanos t) {
    if (!m.present || m.writeBlocked || m.pacer.empty())
        return;
    const std::size_t due = m.pacer.due(t);
    if (due == 0)
        return;
    const Pacer::Pieces pieces = m.pacer.peek(due);
    iovec iov[2] = {{const_cast<std::uint8_t*>(pieces.first), pieces.firstSize},
                    {const_cast<std::uint8_t*>(pieces.second), pieces.secondSize}};
    ssize_t n;
    do
        n = ::writev(m.port.fd(), iov, pieces.secondSize ? 2 : 1);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        m.stats.outBytes += std::uint64_t(n);
        m.pacer.consume(std::size_t(n));
        if (std::size_t(n) < due)
            m.writeBlocked = true;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m.writeBlocked = true;
    } else {
        stationLeft(m, t);
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
            " station=" + (m.present ? "open" : "closed") + " line=" +
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
