#include "master_poller.h"

#include "link/channel.h"
#include "link/one_shot.h"
#include "message_collector.h"

namespace rava::polling {

namespace {
const QString kWrongCommand = QStringLiteral("Wrong command!");
}

MasterPoller::MasterPoller(Channel& channel, MessageCollector& collector, PollTable& table,
                           QObject* parent)
    : QObject(parent), channel_(&channel), collector_(collector), table_(table),
      pause_(new OneShot(QStringLiteral("Timer7"), kPauseMs, this)) {
    for (int i = 1; i <= PollTable::kRows; ++i) {
        auto* hold = new OneShot(QStringLiteral("display hold %1").arg(i), kHoldMs, this);
        connect(hold, &OneShot::fired, this, [this, i] { onHoldOver(i); });
        holds_[size_t(i - 1)] = hold;
    }
    connect(pause_, &OneShot::fired, this, &MasterPoller::onPauseOver);
    connect(&collector, &MessageCollector::messageReceived, this, &MasterPoller::onMessage);
    connect(&table, &PollTable::enabledChanged, this, &MasterPoller::onEnabledChanged);
    connect(&channel, &Channel::lost, this, &MasterPoller::onLost);
}

MasterPoller::~MasterPoller() {
    if (isRunning())
        stop();
}

void MasterPoller::setPause(int ms) {
    pause_->setInterval(ms);
}

void MasterPoller::setHold(int ms) {
    for (OneShot* hold : holds_)
        hold->setInterval(ms);
}

bool MasterPoller::start() {
    if (isRunning() || !channel_)
        return false;
    QString error;
    if (!collector_.openAndStart(&error)) {
        emit failed(PollFailure::OpenFailed, error);
        return false;
    }
    row_ = 1;
    state_ = State::NoRowsYet;
    emit runningChanged(true);
    nextTurn();
    return true;
}

void MasterPoller::end() {
    if (!isRunning())
        return;
    stop();
}

void MasterPoller::stop() {
    pause_->stop();
    collector_.stop();
    state_ = State::Idle;
    if (channel_)
        channel_->close();
    // Lights already on go out after their hold, as usual.
    emit runningChanged(false);
}

void MasterPoller::nextTurn() {
    // Unchecked rows cost no time: pass over them to the next checked one.
    for (int step = 0; step < PollTable::kRows; ++step) {
        if (table_.row(row_).enabled) {
            const QByteArray query = table_.query(row_);
            if (!channel_ || !channel_->write(query)) {
                stop();
                emit failed(PollFailure::WriteFailed, QString());
                return;
            }
            state_ = State::Pausing;
            pause_->start();
            emit queried(row_, query);
            return;
        }
        row_ = row_ == PollTable::kRows ? 1 : row_ + 1;
    }
    state_ = State::NoRowsYet;
}

void MasterPoller::onPauseOver() {
    if (state_ != State::Pausing)
        return;
    row_ = row_ == PollTable::kRows ? 1 : row_ + 1;
    nextTurn();
}

void MasterPoller::onEnabledChanged() {
    if (state_ == State::NoRowsYet)
        nextTurn();
}

void MasterPoller::onMessage(const QByteArray& message) {
    if (!isRunning() || message.isEmpty())
        return;
    const int row = table_.rowFor(static_cast<unsigned char>(message.at(0)));
    if (row == 0) {
        emit replied(0, message);
        return;
    }
    const QByteArray reply = message.mid(1);
    if (reply.size() == 1 && reply.at(0) == kNotRecognised)
        table_.setReply(row, kWrongCommand, Light::Red);
    else
        table_.setReply(row, QString::fromLatin1(reply), Light::Green);
    holds_[size_t(row - 1)]->start();
    emit replied(row, message);
}

void MasterPoller::onHoldOver(int row) {
    table_.setReply(row, QString(), Light::White);
}

void MasterPoller::onLost(const QString& reason) {
    if (!isRunning())
        return;
    stop();
    emit failed(PollFailure::ChannelLost, reason);
}

} // namespace rava::polling
