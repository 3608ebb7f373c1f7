#include "slave_responder.h"

#include "link/channel.h"
#include "link/one_shot.h"
#include "master_poller.h"
#include "message_collector.h"

namespace rava::polling {

namespace {
const QString kRecognised = QStringLiteral("Command OK! Reply forwarded");
const QString kNotRecognisedText = QStringLiteral("Command not recognised!");
const QString kTooLong = QStringLiteral("Command too long! Not answered");
} // namespace

QByteArray answerFor(const QByteArray& message, const SlaveAnswer& answer, bool* recognised) {
    // Compared as text, one character per byte: a command holding a
    // character that is no single byte matches no message.
    const bool equal = QString::fromLatin1(message) == answer.command;
    if (recognised)
        *recognised = equal;
    return equal ? answer.reply.toLatin1() : QByteArray(1, kNotRecognised);
}

SlaveResponder::SlaveResponder(Channel& channel, MessageCollector& collector,
                               const SlaveAnswer& answer, QObject* parent)
    : QObject(parent), channel_(&channel), collector_(collector), answer_(answer),
      hold_(new OneShot(QStringLiteral("slave display hold"), kHoldMs, this)) {
    connect(hold_, &OneShot::fired, this, &SlaveResponder::onHoldOver);
    connect(&collector, &MessageCollector::messageReceived, this, &SlaveResponder::onMessage);
    connect(&collector, &MessageCollector::tooLong, this, &SlaveResponder::onTooLong);
    connect(&channel, &Channel::lost, this, &SlaveResponder::onLost);
}

SlaveResponder::~SlaveResponder() {
    if (listening_)
        stop();
}

void SlaveResponder::setHold(int ms) {
    hold_->setInterval(ms);
}

bool SlaveResponder::listen() {
    if (listening_ || !channel_)
        return false;
    QString error;
    if (!collector_.openAndStart(&error)) {
        emit failed(PollFailure::OpenFailed, error);
        return false;
    }
    listening_ = true;
    emit listeningChanged(true);
    return true;
}

void SlaveResponder::stopListening() {
    if (listening_)
        stop();
}

void SlaveResponder::stop() {
    collector_.stop();
    listening_ = false;
    if (channel_)
        channel_->close();
    emit listeningChanged(false);
}

void SlaveResponder::onMessage(const QByteArray& message) {
    if (!listening_ || !channel_)
        return;
    bool recognised = false;
    const QByteArray reply = answerFor(message, answer_, &recognised);
    // An empty reply writes nothing; the command still counts as recognised.
    if (!reply.isEmpty() && !channel_->write(reply)) {
        stop();
        emit failed(PollFailure::WriteFailed, QString());
        return;
    }
    show(recognised ? Light::Green : Light::Red, recognised ? kRecognised : kNotRecognisedText);
    hold_->start();
    emit answered(message, reply, recognised);
}

void SlaveResponder::onTooLong() {
    if (!listening_)
        return;
    show(Light::Red, kTooLong);
    hold_->start();
}

void SlaveResponder::onHoldOver() {
    show(Light::White, QString());
}

void SlaveResponder::show(Light light, const QString& status) {
    light_ = light;
    status_ = status;
    emit lightChanged(light, status);
}

void SlaveResponder::onLost(const QString& reason) {
    if (!listening_)
        return;
    stop();
    emit failed(PollFailure::ChannelLost, reason);
}

} // namespace rava::polling
