// The module and the loop that drives the simulation.
#include "simulator.h"
#include "simulator_common.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
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
    for (const auto& m : modules_) {
        // A held packet that can go now (its receiver's queue emptied after
        // it was last tried) goes at once.
        if (m.held() && deliverable(m))
            consider(Nanos(0));
        if (!m.held()) {
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
        if (m.state == Module::State::Open)
            consider(m.pacer.deadline());
        if (!m.present() && m.watch < 0)
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
            const short events = m.state == Module::State::Full ? POLLOUT : 0;
            // A module without a station is left out: its descriptor would
            // report POLLHUP without end.
            fds.push_back({m.present() ? m.port.fd() : -1, events, 0});
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
            if (!m.present() || !r)
                continue;
            if (r & POLLOUT)
                m.state = Module::State::Open;
            if (r & (POLLHUP | POLLERR | POLLNVAL))
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
            collect(i, t);
            readStation(i, t);
        }
        for (auto& m : modules_)
            release(m, t);
    }
}

} // namespace rava::sim
