#include "message_collector.h"

#include "link/channel_session.h"
#include "link/one_shot.h"

namespace rava::polling {

MessageCollector::MessageCollector(Channel& channel, const Timings& timings, QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)),
      silence_(new OneShot(QStringLiteral("Timer8"), timings.silenceMs, this)) {
    connect(session_, &ChannelSession::received, this, &MessageCollector::onReceived);
    connect(session_, &ChannelSession::failed, this, &MessageCollector::onLost);
    connect(silence_, &OneShot::fired, this, &MessageCollector::onSilence);
}

MessageCollector::~MessageCollector() = default;

bool MessageCollector::timerArmed() const {
    return silence_->isActive();
}

bool MessageCollector::listen(ChannelFailure* failure) {
    if (!session_->open(ChannelClaim::reading(), failure))
        return false;
    if (state_ == State::Stopped) {
        buffer_.clear();
        state_ = State::Idle;
    }
    return true;
}

void MessageCollector::stop() {
    silence_->stop();
    buffer_.clear();
    state_ = State::Stopped;
    session_->close();
}

bool MessageCollector::write(const QByteArray& bytes) {
    return state_ != State::Stopped && session_->write(bytes);
}

void MessageCollector::onReceived() {
    if (state_ == State::Stopped)
        return;
    const QByteArray bytes = session_->readAll();
    if (bytes.isEmpty())
        return;
    silence_->start();
    if (state_ == State::Discarding)
        return;
    if (buffer_.size() + bytes.size() > kMaxMessage) {
        buffer_.clear();
        buffer_.squeeze();
        state_ = State::Discarding;
        emit tooLong();
        return;
    }
    buffer_.append(bytes);
    state_ = State::Collecting;
}

void MessageCollector::onSilence() {
    if (state_ == State::Discarding)
        state_ = State::Idle;
    if (state_ != State::Collecting)
        return;
    QByteArray message;
    message.swap(buffer_);
    state_ = State::Idle;
    // A receiver may stop the collector; the next message starts afresh.
    emit messageReceived(message);
}

void MessageCollector::onLost(const ChannelFailure& failure) {
    silence_->stop();
    buffer_.clear();
    state_ = State::Stopped;
    emit lost(failure);
}

} // namespace rava::polling
