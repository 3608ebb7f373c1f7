#include "registers.h"

namespace rava::sim {

RegisterFile::RegisterFile(std::uint8_t address, Parity parity) {
    regs_[kAddressRegister] = address;
    regs_[kParityRegister] = parityRegisterValue(parity);
}

Parity parityFromRegister(std::uint8_t value) {
    if (!(value & 1))
        return Parity::None;
    return (value & 2) ? Parity::Even : Parity::Odd;
}

std::uint8_t parityRegisterValue(Parity parity) {
    switch (parity) {
    case Parity::Odd:
        return 1;
    case Parity::Even:
        return 3;
    default:
        return 0;
    }
}

Bytes RegisterProtocol::feed(const Bytes& packet, Nanos now, RegisterFile& file) {
    Bytes replies;
    if (state_ != State::Idle && now - last_ > expiry_)
        state_ = State::Idle;
    for (std::uint8_t b : packet) {
        switch (state_) {
        case State::Idle:
            if (b == kReadRequest)
                state_ = State::ReadRegister;
            else if (b == kWriteRequest)
                state_ = State::WriteRegister;
            break;
        case State::ReadRegister:
            replies.push_back(file.get(b));
            state_ = State::Idle;
            break;
        case State::WriteRegister:
            reg_ = b;
            state_ = State::WriteValue;
            break;
        case State::WriteValue:
            file.set(reg_, b);
            state_ = State::Idle;
            break;
        }
    }
    if (!packet.empty())
        last_ = now;
    return replies;
}

} // namespace rava::sim
