// Watching the stations open and close their devices.
#include "simulator.h"
#include "simulator_common.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace rava::sim {

void Simulator::watchStation(Module& m) {
    if (inotify_ >= 0)
        m.watch = ::inotify_add_watch(inotify_, m.port.stationPath().c_str(),
                                      IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
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
                if (m.watch == e->wd && !m.present())
                    probe(m, t);
        }
    }
}

void Simulator::probe(Module& m, Nanos t) {
    // A station may also have written and closed before it was noticed:
    // what it wrote is still there to be taken.
    reader_.watch(index(m));
    if (m.port.stationPresent()) {
        m.state = Module::State::Open;
        m.protocol.reset();
        return;
    }
    m.nextProbe = t + kProbeInterval;
}

void Simulator::stationLeft(Module& m, Nanos t, bool unread) {
    m.state = Module::State::Absent;
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

} // namespace rava::sim
