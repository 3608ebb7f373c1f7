#include "text_receiver.h"

#include "link/channel_session.h"
#include "link/one_shot.h"
#include "link/station_settings.h"

namespace rava::text {

TextReceiver::TextReceiver(Channel& channel, const StationSettings& settings, QObject* parent)
    : TextReceiver(channel, settings, Timings(), parent) {}

TextReceiver::TextReceiver(Channel& channel, const StationSettings& settings,
                           const Timings& timings, QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)), settings_(settings),
      idle_(new OneShot(QStringLiteral("Timer2"), timings.idleMs, this)) {
    connect(idle_, &OneShot::fired, this, &TextReceiver::onIdleTimeout);
    connect(session_, &ChannelSession::received, this, &TextReceiver::onReceived);
    connect(session_, &ChannelSession::failed, this, &TextReceiver::onLost);
}

// The session closes the channel of a running reception.
TextReceiver::~TextReceiver() = default;

bool TextReceiver::receive() {
    if (state_ != State::Idle)
        return false;
    ChannelFailure failure;
    if (!session_->open(ChannelClaim::reading(), &failure)) {
        emit failed(ReceiveFailure::OpenFailed, failure.message);
        return false;
    }
    state_ = State::WaitingFirst;
    partial_.clear();
    lineStarted_ = false;
    emit busyChanged(true);
    return true;
}

void TextReceiver::stop() {
    if (state_ == State::Idle)
        return;
    flushPartialLine();
    if (state_ != State::Idle)
        end();
}

void TextReceiver::onReceived() {
    if (state_ == State::Idle)
        return;
    const QByteArray bytes = session_->readAll();
    if (bytes.isEmpty())
        return;
    state_ = State::Receiving;
    takeLines(bytes);
    if (state_ != State::Idle)
        emit batchDone();
    // Silence is counted from the last byte, whether or not it ended a line.
    if (state_ == State::Receiving)
        idle_->start();
}

void TextReceiver::takeLines(const QByteArray& bytes) {
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        if (!lineStarted_) {
            // A master's line begins with the sender's address, whatever its
            // value: address 10 is a line feed and still names the sender.
            lineStarted_ = true;
            sender_ = 0;
            if (settings_.isMaster()) {
                sender_ = static_cast<unsigned char>(bytes.at(pos));
                ++pos;
                continue;
            }
        }
        const qsizetype lf = bytes.indexOf('\n', pos);
        if (lf < 0) {
            partial_.append(bytes.constData() + pos, bytes.size() - pos);
            return;
        }
        partial_.append(bytes.constData() + pos, lf - pos);
        pos = lf + 1;
        QByteArray line;
        line.swap(partial_);
        lineStarted_ = false;
        emit lineReceived(line, sender_);
        if (state_ == State::Idle)
            return; // the reception was ended from a receiver of the line
    }
}

void TextReceiver::flushPartialLine() {
    if (!lineStarted_)
        return;
    QByteArray line;
    line.swap(partial_);
    lineStarted_ = false;
    emit lineReceived(line, sender_);
}

void TextReceiver::onIdleTimeout() {
    if (state_ != State::Receiving)
        return;
    flushPartialLine();
    if (state_ != State::Idle)
        end();
}

void TextReceiver::onLost(const ChannelFailure& failure) {
    if (state_ == State::Idle)
        return;
    flushPartialLine();
    if (state_ != State::Idle)
        end();
    emit failed(ReceiveFailure::ChannelLost, failure.message);
}

void TextReceiver::end() {
    idle_->stop();
    state_ = State::Idle;
    partial_.clear();
    lineStarted_ = false;
    session_->close();
    emit busyChanged(false);
}

} // namespace rava::text
