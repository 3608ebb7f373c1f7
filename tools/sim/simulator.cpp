// The module and the loop that drives the simulation.
#include "simulator.h"
#include "simulator_common.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace rava::sim {

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
    if (epoll_ >= 0)
        ::close(epoll_);
}

Nanos Simulator::now() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        const Module& m = modules_[i];
        if (!m.present() && m.watch < 0)
            consider(m.nextProbe);
        if (idle(i))
            continue;
        // A held packet that can go now (its receiver's queue emptied after
        // it was last tried) goes at once.
        if (m.held() && deliverable(m))
            consider(Nanos(0));
        if (!m.held()) {
            consider(m.intake.deadline());
            // A packet closes after the gap only once nothing more waits:
            // while the reader is reading, look again shortly.
            const auto closes = m.intake.busy() ? std::nullopt : m.framer.deadline();
            if (closes && !reader_.quiet(i))
                consider(std::max(*closes, now() + kReaderBusy));
            else
                consider(closes);
        }
        if (m.state == Module::State::Open)
            consider(m.pacer.deadline());
    }
    return due;
}

namespace {

// What an epoll event is about: a module's index, or one of these.
constexpr std::uint64_t kStopEvent = ~std::uint64_t(0);
constexpr std::uint64_t kConsoleEvent = kStopEvent - 1;
constexpr std::uint64_t kWatchEvent = kStopEvent - 2;
constexpr std::uint64_t kReaderEvent = kStopEvent - 3;

// What a module's descriptor is watched for: nothing without a station (it
// would report EPOLLHUP without end), its going (EPOLLHUP, always reported)
// while a station holds it, and room to write while its side is full. The
// reader takes the station's bytes.
int interest(const Module& m) {
    switch (m.state) {
    case Module::State::Absent:
        return -1;
    case Module::State::Open:
        return 0;
    case Module::State::Full:
        return EPOLLOUT;
    }
    return -1;
}

} // namespace

bool Simulator::follow(int fd, std::uint64_t tag, int& watched, int wanted) {
    if (watched == wanted)
        return true;
    epoll_event ev{};
    ev.events = std::uint32_t(std::max(wanted, 0));
    ev.data.u64 = tag;
    const int op = wanted < 0 ? EPOLL_CTL_DEL : watched < 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (::epoll_ctl(epoll_, op, fd, &ev) != 0 && op != EPOLL_CTL_DEL)
        return false;
    watched = wanted;
    return true;
}

int Simulator::wait(std::vector<epoll_event>& events, const timespec* timeout) {
    if (precise_) {
        const int n = ::epoll_pwait2(epoll_, events.data(), int(events.size()), timeout, nullptr);
        if (n >= 0 || errno != ENOSYS)
            return n;
        precise_ = false;
    }
    // A kernel without epoll_pwait2: wait on the epoll set itself, to the
    // nanosecond, then gather its events.
    pollfd p{epoll_, POLLIN, 0};
    const int ready = ::ppoll(&p, 1, timeout, nullptr);
    if (ready <= 0)
        return ready;
    return ::epoll_wait(epoll_, events.data(), int(events.size()), 0);
}

int Simulator::run(int stopFd) {
    // Wake-ups are few and each one is due to the microsecond (the end of a
    // frame gap, a byte leaving): no slack for the kernel to batch them.
    ::prctl(PR_SET_TIMERSLACK, 1000UL);
    // Descriptors are registered once, and a module's again only when its
    // station comes, goes or fills its side.
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    int stopWatched = -1, watchWatched = -1, readerWatched = -1, consoleWatched = -1;
    if (epoll_ < 0 || !follow(stopFd, kStopEvent, stopWatched, EPOLLIN) ||
        !follow(reader_.wakeFd(), kReaderEvent, readerWatched, EPOLLIN) ||
        (inotify_ >= 0 && !follow(inotify_, kWatchEvent, watchWatched, EPOLLIN))) {
        complain(std::string("poll failed: ") + std::strerror(errno));
        return 1;
    }
    // Standard input that epoll cannot watch (a file) is always ready.
    const bool consoleReady =
        consoleOpen_ && !follow(STDIN_FILENO, kConsoleEvent, consoleWatched, EPOLLIN);
    std::vector<int> watched(modules_.size(), -1);
    std::vector<std::uint32_t> moduleEvents(modules_.size(), 0);
    std::vector<epoll_event> events(modules_.size() + 4);
    for (;;) {
        for (std::size_t i = 0; i < modules_.size(); ++i)
            if (!follow(modules_[i].port.fd(), i, watched[i], interest(modules_[i]))) {
                complain(std::string("poll failed: ") + std::strerror(errno));
                return 1;
            }
        const auto due = consoleReady && consoleOpen_ ? std::optional<Nanos>(0) : pollTimeout();
        timespec ts{};
        if (due) {
            const Nanos wait = std::max<Nanos>(0, *due - now());
            ts = {time_t(wait / kSecond), long(wait % kSecond)};
        }
        const int n = wait(events, due ? &ts : nullptr);
        if (n < 0 && errno != EINTR) {
            complain(std::string("poll failed: ") + std::strerror(errno));
            return 1;
        }
        bool stop = false, console = consoleReady && consoleOpen_, watches = false;
        std::uint32_t reader = 0;
        for (int k = 0; k < n; ++k) {
            const std::uint64_t tag = events[std::size_t(k)].data.u64;
            const std::uint32_t what = events[std::size_t(k)].events;
            if (tag == kStopEvent)
                stop = true;
            else if (tag == kConsoleEvent)
                console = true;
            else if (tag == kWatchEvent)
                watches = true;
            else if (tag == kReaderEvent)
                reader = what;
            else
                moduleEvents[tag] = what;
        }
        if (stop)
            return 0;
        if (console) {
            readConsole();
            // At its end it is watched no more (it would report EPOLLHUP).
            if (!consoleOpen_)
                follow(STDIN_FILENO, kConsoleEvent, consoleWatched, -1);
        }
        if (reader & EPOLLIN) {
            reader_.clearWake();
        } else if (reader) {
            complain("the process reading the stations ended");
            return 1;
        }
        const Nanos t = now();
        // Packets the line closed before this wake-up, judged before new
        // bytes count.
        for (std::size_t i = 0; i < modules_.size(); ++i)
            if (!idle(i))
                collect(i, t);
        if (watches)
            readWatches(t);
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            Module& m = modules_[i];
            const std::uint32_t r = moduleEvents[i];
            moduleEvents[i] = 0;
            if (!m.present() || !r)
                continue;
            if (r & EPOLLOUT)
                m.state = Module::State::Open;
            if (r & (EPOLLHUP | EPOLLERR))
                stationLeft(m, t);
        }
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            Module& m = modules_[i];
            if (!m.present() && m.watch < 0 && t >= m.nextProbe)
                probe(m, t);
        }
        for (auto& m : modules_)
            release(m, t);
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            if (idle(i))
                continue;
            collect(i, t);
            readStation(i, t);
        }
        for (auto& m : modules_)
            release(m, t);
    }
}

} // namespace rava::sim
