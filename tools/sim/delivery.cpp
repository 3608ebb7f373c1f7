// Taking the stations' bytes, framing, routing and delivery, and the
// paced writes to the stations.
#include "simulator.h"
#include "simulator_common.h"

#include <algorithm>
#include <cerrno>
#include <sys/uio.h>
#include <unistd.h>

namespace rava::sim {

void Simulator::collect(std::size_t i, Nanos t) {
    Module& m = modules_[i];
    if (m.held())
        deliver(i, t);
    while (!m.held() && m.framer.take(t, lineIdle(i), m.packet))
        dispatch(i, t);
}

bool Simulator::idle(std::size_t i) const {
    const Module& m = modules_[i];
    return !m.held() && !m.intake.busy() && !m.framer.deadline() && m.pacer.empty() &&
           !reader_.pending(i);
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
            else if (m.present())
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
        if (m.held())
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
            if (m.held())
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
        if (!dst.present() || size <= dst.pacer.room())
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

    bool reply = false;
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
        reply = true;
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
    }
    src.hold = reply ? Module::Hold::Reply : Module::Hold::Relay;
    src.reached = false;
    src.heldSince = t;
    deliver(i, t);
}

void Simulator::deliver(std::size_t i, Nanos t) {
    Module& src = modules_[i];
    const Packet& p = src.packet;
    const Route& r = src.route;
    const std::size_t size = (r.hasPrefix ? 1 : 0) + p.bytes.size() - r.strip;
    const bool reply = src.hold == Module::Hold::Reply;
    const std::string base = join(p.cut ? "cut" : "", p.guessed && !reply ? "guessed" : "");
    auto& waiting = src.route.to;
    for (auto it = waiting.begin(); it != waiting.end();) {
        Module& dst = modules_[*it];
        // A station may have opened its side since it was last looked at.
        if (!dst.present())
            probe(dst, t);
        if (dst.present() && size > dst.pacer.room()) {
            ++it; // waits for the station to take what is queued
            continue;
        }
        scratch_.clear();
        if (r.hasPrefix)
            scratch_.push_back(r.prefix);
        scratch_.insert(scratch_.end(), p.bytes.begin() + std::ptrdiff_t(r.strip), p.bytes.end());
        if (!dst.present()) {
            src.stats.absent++;
            trace(t, src.name, "", scratch_, join("absent:" + dst.name, base));
            it = waiting.erase(it);
            continue;
        }
        std::string note = base;
        if (!reply) {
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
            if (!reply)
                note = join(note, "mismatch");
            const auto key = garbleKey(options_.seed, *line, dst.line());
            for (auto& b : scratch_)
                b = garble(b, key);
        }
        if (reply) {
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
    src.hold = Module::Hold::None;
    if (!src.reached && !reply) {
        src.stats.dropped++;
        dropped_++;
    }
    // The station's bytes waited in the kernel meanwhile: the line starts
    // again now.
    if (src.heldSince != t)
        src.intake.resume(t);
}

void Simulator::release(Module& m, Nanos t) {
    if (m.state != Module::State::Open || m.pacer.empty())
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
            m.state = Module::State::Full;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m.state = Module::State::Full;
    } else {
        stationLeft(m, t);
    }
}

} // namespace rava::sim
