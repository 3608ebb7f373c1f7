#pragma once

#include "types.h"

#include <vector>

namespace rava::sim {

// What routing needs to know of a module.
struct Station {
    Role role = Role::Slave;
    int address = 0;
    bool programming = false;
};

enum class Unrouted {
    None,        // delivered to at least one module
    NoModule,    // no module takes this packet
    Empty,       // a master's packet with the address byte only
    Programming, // the only modules that would take it are in programming mode
};

// Where a packet goes and what the receivers get of it: the packet without
// its first `strip` bytes, after `prefix` when `hasPrefix`.
struct Route {
    std::vector<std::size_t> to; // indices of the receiving modules
    Unrouted reason = Unrouted::None;
    std::size_t strip = 0;
    bool hasPrefix = false;
    std::uint8_t prefix = 0;
};

// Where a packet from module `from` (not in programming mode) goes:
// - a master's packet [address][payload] goes to every slave with that
//   address as [payload] (the command line allows one; reprogramming can
//   make two share an address, and then both hear it, as on the radio);
//   a packet of the address byte alone carries nothing and goes nowhere;
// - a slave's packet [payload] goes to every master as [address][payload].
// Modules in programming mode relay nothing and receive nothing.
Route route(const std::vector<Station>& stations, std::size_t from, const Bytes& packet);

const char* unroutedName(Unrouted reason);

} // namespace rava::sim
