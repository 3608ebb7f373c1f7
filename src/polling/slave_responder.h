#pragma once

#include "poll_types.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace rava {
class OneShot;
struct ChannelFailure;
} // namespace rava

namespace rava::polling {

class MessageCollector;

// What a slave answers: the one command it recognises (Text24) and the reply
// it sends for it (Text25). The page keeps these in step with the boxes.
struct SlaveAnswer {
    QString command;
    QString reply;
};

// What a slave writes back for `message`: the reply when the whole message
// equals the command (exactly, case and blanks included), otherwise the
// not-recognised byte. `recognised` tells which.
QByteArray answerFor(const QByteArray& message, const SlaveAnswer& answer, bool* recognised);

// A slave station's side of polling: while it listens (the "Polling" tab is
// shown in slave mode) every message the collector cuts out is answered at
// once, and the outcome (Answered or Refused) holds for the display hold
// (1000 ms), then HoldOver. Input longer than any command (the collector's
// bound) is not answered: TooLong. A message during a hold is answered like
// any other and its outcome replaces the one shown.
class SlaveResponder : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,      // not answering; the channel is not held for the slave
        Listening, // answering every message
    };

    SlaveResponder(MessageCollector& collector, const SlaveAnswer& answer, const Timings& timings,
                   QObject* parent = nullptr);
    ~SlaveResponder() override;

    State state() const { return state_; }
    bool isListening() const { return state_ == State::Listening; }

    // Opens the polling channel (kept as it is when it is open already) and
    // answers from now on. False when already listening or when the channel
    // cannot be opened (failed() tells why; the channel stays closed).
    bool listen();
    // Stops answering and closes the channel; nothing when not listening.
    void stopListening();

signals:
    void listeningChanged(bool listening);
    void outcome(const rava::polling::SlaveOutcome& outcome);
    void failed(rava::polling::PollFailure failure, const QString& detail);

private:
    void onMessage(const QByteArray& message);
    void onTooLong();
    void onLost(const ChannelFailure& failure);
    void show(const SlaveOutcome& shown);
    void stop();

    MessageCollector& collector_;
    const SlaveAnswer& answer_;
    OneShot* hold_;
    State state_ = State::Idle;
};

} // namespace rava::polling
