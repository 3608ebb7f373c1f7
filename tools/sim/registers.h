#pragma once

#include "types.h"

#include <array>

namespace rava::sim {

constexpr std::uint8_t kAddressRegister = 0;
constexpr std::uint8_t kParityRegister = 3;
constexpr std::uint8_t kReadRequest = 0x24;  // '$' register
constexpr std::uint8_t kWriteRequest = 0x23; // '#' register value

// The module's EEPROM: 256 one-byte registers, all 0 but the address and
// parity registers.
class RegisterFile {
public:
    RegisterFile(std::uint8_t address, Parity parity);
    std::uint8_t get(std::uint8_t reg) const { return regs_[reg]; }
    void set(std::uint8_t reg, std::uint8_t value) { regs_[reg] = value; }

private:
    std::array<std::uint8_t, 256> regs_{};
};

// Parity register values: 0 none, 1 odd, 3 even. Bit 0 switches parity on,
// bit 1 picks even; so 2 reads as none, and bits above 1 are ignored.
Parity parityFromRegister(std::uint8_t value);
std::uint8_t parityRegisterValue(Parity parity);

// Reads register requests out of the packets a station writes to a module
// in programming mode. Requests may share a packet or be split across
// packets; a request left incomplete for longer than `expiry` is dropped,
// so a stray byte cannot swallow a later request. Bytes that start no
// request are ignored.
class RegisterProtocol {
public:
    explicit RegisterProtocol(Nanos expiry = 500 * kMillisecond) : expiry_(expiry) {}

    // Applies the writes in `packet` to `file` and returns the replies, one
    // byte per read request, in order.
    Bytes feed(const Bytes& packet, Nanos now, RegisterFile& file);
    void reset() { state_ = State::Idle; }
    bool idle() const { return state_ == State::Idle; }

private:
    enum class State { Idle, ReadRegister, WriteRegister, WriteValue };
    Nanos expiry_;
    State state_ = State::Idle;
    std::uint8_t reg_ = 0;
    Nanos last_ = 0;
};

} // namespace rava::sim
