#include "register_words.h"

namespace rava::registers {

namespace {
const QString kFailed = QStringLiteral("Operation failed. Check the settings!");
} // namespace

QString statusText(const Outcome& outcome) {
    const bool address = registerOf(outcome.operation) == Register::Address;
    switch (outcome.kind) {
    case Outcome::Kind::Value:
        return (address ? QStringLiteral("Address is ") : QStringLiteral("Parity is ")) +
               QString::number(outcome.value);
    case Outcome::Kind::Done:
        // The value read back equals the requested one, a whole number.
        return (address ? QStringLiteral("Operation done. The new address is ")
                        : QStringLiteral("Operation done. The new parity is ")) +
               QString::number(outcome.value);
    case Outcome::Kind::OutOfRange:
        return address ? QStringLiteral("Address out of range!")
                       : QStringLiteral("Parity out of range!");
    case Outcome::Kind::Mismatch:
    case Outcome::Kind::NoReply:
    case Outcome::Kind::OpenFailed:
    case Outcome::Kind::ChannelLost:
        break;
    }
    return kFailed;
}

QString failureMessage(const Outcome& outcome) {
    if (outcome.kind == Outcome::Kind::OpenFailed)
        return outcome.detail;
    if (outcome.kind == Outcome::Kind::ChannelLost)
        return QStringLiteral("%1; the register operation stopped.").arg(outcome.detail);
    return QString();
}

bool parityAccepts(double value) {
    return value >= 0 && value <= 3 && value != 2;
}

} // namespace rava::registers
