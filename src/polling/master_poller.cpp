#include "master_poller.h"

#include "link/channel_session.h"
#include "link/one_shot.h"
#include "message_collector.h"

namespace rava::polling {

MasterPoller::MasterPoller(MessageCollector& collector, PollTable& table, const Timings& timings,
                           QObject* parent)
    : QObject(parent), collector_(collector), table_(table),
      pause_(new OneShot(QStringLiteral("Timer7"), timings.pauseMs, this)) {
    for (int i = 1; i <= PollTable::kRows; ++i) {
        auto* hold = new OneShot(QStringLiteral("display hold %1").arg(i), timings.holdMs, this);
        connect(hold, &OneShot::fired, this, [this, i] { emit outcome(HoldOver{i}); });
        holds_[size_t(i - 1)] = hold;
    }
    connect(pause_, &OneShot::fired, this, &MasterPoller::onPauseOver);
    connect(&collector, &MessageCollector::messageReceived, this, &MasterPoller::onMessage);
    connect(&collector, &MessageCollector::lost, this, &MasterPoller::onLost);
    connect(&table, &PollTable::enabledChanged, this, &MasterPoller::onEnabledChanged);
}

MasterPoller::~MasterPoller() {
    if (isRunning())
        stop();
}

bool MasterPoller::start() {
    if (isRunning())
        return false;
    ChannelFailure failure;
    if (!collector_.listen(&failure)) {
        emit failed(PollFailure::OpenFailed, failure.message);
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
    // Outcomes already shown go out after their hold, as usual.
    emit runningChanged(false);
}

void MasterPoller::nextTurn() {
    // Unchecked rows cost no time: pass over them to the next checked one.
    for (int step = 0; step < PollTable::kRows; ++step) {
        if (table_.row(row_).enabled) {
            const QByteArray query = table_.query(row_);
            if (!collector_.write(query)) {
                stop();
                emit failed(PollFailure::WriteFailed, QString());
                return;
            }
            state_ = State::Pausing;
            answered_ = false;
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
    if (!answered_)
        emit outcome(NoReply{row_});
    if (state_ != State::Pausing)
        return; // ended from a receiver of the outcome
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
    const int address = static_cast<unsigned char>(message.at(0));
    const int row = table_.rowFor(address);
    if (row == 0) {
        emit outcome(UnknownSender{address});
        return;
    }
    if (state_ == State::Pausing && row == row_)
        answered_ = true;
    holds_[size_t(row - 1)]->start();
    const QByteArray reply = message.mid(1);
    if (reply.size() == 1 && reply.at(0) == kNotRecognised)
        emit outcome(WrongCommand{row});
    else
        emit outcome(ReplyOk{row, QString::fromLatin1(reply)});
}

void MasterPoller::onLost(const ChannelFailure& failure) {
    if (!isRunning())
        return;
    stop();
    emit failed(PollFailure::ChannelLost, failure.message);
}

} // namespace rava::polling
