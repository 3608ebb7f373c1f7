#include "register_programmer.h"

#include "link/channel_session.h"
#include "link/device_words.h"
#include "link/one_shot.h"
#include "numbers/number_rule.h"

namespace rava::registers {

namespace {
constexpr char kRead = '$';  // 0x24
constexpr char kWrite = '#'; // 0x23
} // namespace

Register registerOf(Operation operation) {
    switch (operation) {
    case Operation::WriteAddress:
    case Operation::ReadAddress:
        return Register::Address;
    case Operation::WriteParity:
    case Operation::ReadParity:
        break;
    }
    return Register::Parity;
}

bool isWrite(Operation operation) {
    return operation == Operation::WriteAddress || operation == Operation::WriteParity;
}

QByteArray readRequest(Register reg) {
    QByteArray bytes;
    bytes.append(kRead);
    bytes.append(char(quint8(reg)));
    return bytes;
}

QByteArray writeRequest(Register reg, quint8 value) {
    QByteArray bytes;
    bytes.append(kWrite);
    bytes.append(char(quint8(reg)));
    bytes.append(char(value));
    return bytes;
}

RegisterProgrammer::RegisterProgrammer(Channel& channel, QObject* parent)
    : RegisterProgrammer(channel, Timings(), parent) {}

RegisterProgrammer::RegisterProgrammer(Channel& channel, Timings timings, QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)), timings_(timings),
      settle_(new OneShot(QStringLiteral("Timer3"), timings.settleMs, this)),
      reply_(new OneShot(QStringLiteral("Timer6"), timings.replyTimeoutMs, this)) {
    connect(session_, &ChannelSession::received, this, &RegisterProgrammer::onReceived);
    connect(session_, &ChannelSession::failed, this, &RegisterProgrammer::onLost);
    connect(settle_, &OneShot::fired, this, &RegisterProgrammer::sendReadBack);
    connect(reply_, &OneShot::fired, this, &RegisterProgrammer::onReplyTimeout);
}

// The session closes the channel of a running operation.
RegisterProgrammer::~RegisterProgrammer() = default;

bool RegisterProgrammer::read(Register reg) {
    return start(reg == Register::Address ? Operation::ReadAddress : Operation::ReadParity);
}

bool RegisterProgrammer::write(Register reg, double requested) {
    return start(reg == Register::Address ? Operation::WriteAddress : Operation::WriteParity,
                 requested);
}

bool RegisterProgrammer::start(Operation operation, double requested) {
    // One operation at a time: the channel is never opened twice.
    if (state_ != State::Idle)
        return false;
    last_ = operation;
    requested_ = isWrite(operation) ? requested : 0;
    const Register reg = registerOf(operation);

    QByteArray request;
    if (isWrite(operation)) {
        // A register holds one byte. The port is not touched for a value
        // that does not fit (NaN included).
        if (!(requested >= 0 && requested <= 255)) {
            finish(Outcome::Kind::OutOfRange);
            return true;
        }
        request = writeRequest(reg, quint8(roundHalfEven(requested)));
    } else {
        request = readRequest(reg);
    }

    // The reply is a single byte: it must be seen as soon as it arrives.
    // Nothing the module sent before this request can be its reply.
    ChannelFailure failure;
    if (!session_->open(ChannelClaim::reading(), &failure)) {
        finish(Outcome::Kind::OpenFailed, -1, failure.message);
        return true;
    }
    enter(isWrite(operation) ? State::Settling : State::AwaitingReply);
    emit busyChanged(true);
    if (!session_->write(request)) {
        finish(Outcome::Kind::ChannelLost, -1, deviceGone(session_->channel()));
        return true;
    }
    // Each wait counts from the moment its request was handed over.
    if (state_ == State::Settling)
        settle_->start();
    else
        reply_->start();
    return true;
}

void RegisterProgrammer::enter(State state) {
    if (state_ == state)
        return;
    state_ = state;
    emit stateChanged(state);
}

void RegisterProgrammer::sendReadBack() {
    if (state_ != State::Settling)
        return;
    if (!session_->isOpen()) {
        finish(Outcome::Kind::ChannelLost, -1, deviceGone(session_->channel()));
        return;
    }
    // The module answers nothing to a write: whatever came during the
    // settle wait is noise, not the reply to the read-back.
    session_->discardInput();
    enter(State::AwaitingReply);
    if (!session_->write(readRequest(registerOf(*last_)))) {
        finish(Outcome::Kind::ChannelLost, -1, deviceGone(session_->channel()));
        return;
    }
    reply_->start();
}

void RegisterProgrammer::onReceived() {
    switch (state_) {
    case State::Idle:
        return;
    case State::Settling:
        session_->readAll();
        return;
    case State::AwaitingReply:
        break;
    }
    const QByteArray input = session_->readAll();
    if (input.isEmpty())
        return;
    // Only the first byte is the reply; the rest is dropped.
    const int value = quint8(input.at(0));
    if (!isWrite(*last_))
        finish(Outcome::Kind::Value, value);
    else if (requested_ == value) // the typed value, not the one written
        finish(Outcome::Kind::Done, value);
    else
        finish(Outcome::Kind::Mismatch, value);
}

void RegisterProgrammer::onReplyTimeout() {
    if (state_ == State::AwaitingReply)
        finish(Outcome::Kind::NoReply);
}

void RegisterProgrammer::onLost(const ChannelFailure& failure) {
    if (state_ != State::Idle)
        finish(Outcome::Kind::ChannelLost, -1, failure.message);
}

void RegisterProgrammer::finish(Outcome::Kind kind, int value, const QString& detail) {
    const bool wasBusy = state_ != State::Idle;
    settle_->stop();
    reply_->stop();
    enter(State::Idle);
    // Closing lets any request still queued leave first.
    session_->close();
    if (wasBusy)
        emit busyChanged(false);
    Outcome outcome;
    outcome.operation = last_.value_or(Operation::ReadAddress);
    outcome.kind = kind;
    outcome.value = value;
    outcome.requested = requested_;
    outcome.detail = detail;
    emit finished(outcome);
}

} // namespace rava::registers
