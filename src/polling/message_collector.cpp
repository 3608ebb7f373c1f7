#include "message_collector.h"

#include "link/channel.h"
#include "link/one_shot.h"

namespace rava::polling {

MessageCollector::MessageCollector(Channel& channel, QObject* parent)
    : QObject(parent), channel_(&channel),
      silence_(new OneShot(QStringLiteral("Timer8"), kSilenceMs, this)) {
    connect(&channel, &Channel::received, this, &MessageCollector::onReceived);
    connect(silence_, &OneShot::fired, this, &MessageCollector::onSilence);
}

MessageCollector::~MessageCollector() = default;

void MessageCollector::setSilence(int ms) {
    silence_->setInterval(ms);
}

int MessageCollector::silence() const {
    return silence_->interval();
}

bool MessageCollector::timerArmed() const {
    return silence_->isActive();
}

void MessageCollector::start() {
    if (state_ != State::Stopped || !channel_)
        return;
    buffer_.clear();
    thresholdBefore_ = channel_->receiveThreshold();
    channel_->setReceiveThreshold(1);
    channel_->discardInput();
    state_ = State::Idle;
}

bool MessageCollector::openAndStart(QString* error) {
    if (!channel_)
        return false;
    if (!channel_->isOpen() && !channel_->open(error)) {
        channel_->close();
        return false;
    }
    start();
    return true;
}

void MessageCollector::stop() {
    if (state_ == State::Stopped)
        return;
    silence_->stop();
    buffer_.clear();
    state_ = State::Stopped;
    if (channel_)
        channel_->setReceiveThreshold(thresholdBefore_);
}

void MessageCollector::onReceived() {
    if (state_ == State::Stopped || !channel_)
        return;
    const QByteArray bytes = channel_->readAll();
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

} // namespace rava::polling
