#include "router.h"

namespace rava::sim {

Route route(const std::vector<Station>& stations, std::size_t from, const Bytes& packet) {
    Route r;
    const Station& source = stations.at(from);
    if (packet.empty()) {
        r.reason = Unrouted::Empty;
        return r;
    }
    bool skippedProgramming = false;
    if (source.role == Role::Master) {
        if (packet.size() == 1) {
            r.reason = Unrouted::Empty;
            return r;
        }
        const int address = packet.front();
        for (std::size_t i = 0; i < stations.size(); ++i) {
            const Station& s = stations[i];
            if (i == from || s.role != Role::Slave || s.address != address)
                continue;
            if (s.programming) {
                skippedProgramming = true;
                continue;
            }
            r.to.push_back(i);
        }
        r.strip = 1;
    } else {
        r.hasPrefix = true;
        r.prefix = std::uint8_t(source.address);
        for (std::size_t i = 0; i < stations.size(); ++i) {
            const Station& s = stations[i];
            if (i == from || s.role != Role::Master)
                continue;
            if (s.programming) {
                skippedProgramming = true;
                continue;
            }
            r.to.push_back(i);
        }
    }
    if (r.to.empty())
        r.reason = skippedProgramming ? Unrouted::Programming : Unrouted::NoModule;
    return r;
}

const char* unroutedName(Unrouted reason) {
    switch (reason) {
    case Unrouted::NoModule:
        return "unrouted";
    case Unrouted::Empty:
        return "empty";
    case Unrouted::Programming:
        return "programming";
    default:
        return "";
    }
}

} // namespace rava::sim
