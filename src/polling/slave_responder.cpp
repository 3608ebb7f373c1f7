#include "slave_responder.h"

#include "link/channel_session.h"
#include "link/one_shot.h"
#include "message_collector.h"

namespace rava::polling {

QByteArray answerFor(const QByteArray& message, const SlaveAnswer& answer, bool* recognised) {
    // Compared as text, one character per byte: a command holding a
    // character that is no single byte matches no message.
    const bool equal = QString::fromLatin1(message) == answer.command;
    if (recognised)
        *recognised = equal;
    return equal ? answer.reply.toLatin1() : QByteArray(1, kNotRecognised);
}

SlaveResponder::SlaveResponder(MessageCollector& collector, const SlaveAnswer& answer,
                               const Timings& timings, QObject* parent)
    : QObject(parent), collector_(collector), answer_(answer),
      hold_(new OneShot(QStringLiteral("slave display hold"), timings.holdMs, this)) {
    connect(hold_, &OneShot::fired, this, [this] { emit outcome(HoldOver{0}); });
    connect(&collector, &MessageCollector::messageReceived, this, &SlaveResponder::onMessage);
    connect(&collector, &MessageCollector::tooLong, this, &SlaveResponder::onTooLong);
    connect(&collector, &MessageCollector::lost, this, &SlaveResponder::onLost);
}

SlaveResponder::~SlaveResponder() {
    if (isListening())
        stop();
}

bool SlaveResponder::listen() {
    if (isListening())
        return false;
    ChannelFailure failure;
    if (!collector_.listen(&failure)) {
        emit failed(PollFailure::OpenFailed, failure.message);
        return false;
    }
    state_ = State::Listening;
    emit listeningChanged(true);
    return true;
}

void SlaveResponder::stopListening() {
    if (isListening())
        stop();
}

void SlaveResponder::stop() {
    collector_.stop();
    state_ = State::Idle;
    emit listeningChanged(false);
}

void SlaveResponder::onMessage(const QByteArray& message) {
    if (!isListening())
        return;
    bool recognised = false;
    const QByteArray reply = answerFor(message, answer_, &recognised);
    // An empty reply writes nothing; the command still counts as recognised.
    if (!reply.isEmpty() && !collector_.write(reply)) {
        stop();
        emit failed(PollFailure::WriteFailed, QString());
        return;
    }
    if (recognised)
        show(Answered{message, reply});
    else
        show(Refused{message});
}

void SlaveResponder::onTooLong() {
    if (isListening())
        show(TooLong{});
}

void SlaveResponder::show(const SlaveOutcome& shown) {
    hold_->start();
    emit outcome(shown);
}

void SlaveResponder::onLost(const ChannelFailure& failure) {
    if (!isListening())
        return;
    stop();
    emit failed(PollFailure::ChannelLost, failure.message);
}

} // namespace rava::polling
