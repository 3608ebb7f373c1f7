#include "channel_session.h"

#include "channel.h"
#include "device_words.h"

namespace rava {

ChannelSession::ChannelSession(Channel& channel, QObject* parent)
    : QObject(parent), channel_(&channel) {
    connect(&channel, &Channel::received, this, &ChannelSession::onReceived);
    connect(&channel, &Channel::lost, this, &ChannelSession::onLost);
}

ChannelSession::~ChannelSession() {
    release(true);
}

bool ChannelSession::open(const ChannelClaim& claim, ChannelFailure* failure) {
    if (!channel_) {
        if (failure)
            *failure = {ChannelFailure::Kind::OpenFailed, deviceGone(nullptr)};
        return false;
    }
    if (!held_) {
        QString error;
        if (!channel_->isOpen() && !channel_->open(&error)) {
            // A channel that failed half-way holds nothing afterwards.
            channel_->close();
            if (failure) {
                *failure = {
                    ChannelFailure::Kind::OpenFailed,
                    error.isEmpty()
                        ? QStringLiteral("%1 cannot be opened.").arg(channel_->description())
                        : error};
            }
            return false;
        }
        held_ = true;
        thresholdBefore_ = channel_->receiveThreshold();
    }
    channel_->setReceiveThreshold(claim.threshold);
    if (claim.discardInput)
        channel_->discardInput();
    if (claim.discardOutput)
        channel_->discardOutput();
    return true;
}

void ChannelSession::close() {
    release(true);
}

void ChannelSession::abandon() {
    release(false);
}

void ChannelSession::release(bool drain) {
    if (!held_)
        return;
    held_ = false;
    if (!channel_)
        return;
    if (drain)
        channel_->close();
    else
        channel_->abandon();
    channel_->setReceiveThreshold(thresholdBefore_);
}

bool ChannelSession::isOpen() const {
    return held_ && channel_ && channel_->isOpen();
}

bool ChannelSession::write(const QByteArray& bytes) {
    return isOpen() && channel_->write(bytes);
}

QByteArray ChannelSession::readAll() {
    return held_ && channel_ ? channel_->readAll() : QByteArray();
}

void ChannelSession::discardInput() {
    if (held_ && channel_)
        channel_->discardInput();
}

void ChannelSession::onReceived() {
    if (held_)
        emit received();
}

void ChannelSession::onLost() {
    if (!held_)
        return;
    // What the channel held is named in the message. The channel has
    // closed itself; closing it here too leaves nothing half-held.
    const ChannelFailure failure{ChannelFailure::Kind::Lost, deviceGone(channel_)};
    release(true);
    emit failed(failure);
}

} // namespace rava
