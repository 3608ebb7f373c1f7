#include "types.h"

namespace rava::sim {

const char* roleName(Role role) {
    return role == Role::Master ? "master" : "slave";
}

const char* parityName(Parity parity) {
    switch (parity) {
    case Parity::Odd:
        return "odd";
    case Parity::Even:
        return "even";
    default:
        return "none";
    }
}

Nanos characterTime(int baud) {
    return baud > 0 ? 10 * kSecond / baud : 0;
}

} // namespace rava::sim
