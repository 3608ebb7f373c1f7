#pragma once

#include "poll_types.h"

#include <QByteArray>
#include <QObject>

namespace rava {
class Channel;
class ChannelSession;
class OneShot;
struct ChannelFailure;
} // namespace rava

namespace rava::polling {

// Holds the polling channel for whoever polls or answers, and cuts messages
// out of its byte stream: a message is everything received until the line
// has been silent for the end-of-message timeout `Timer8` (500 ms). Every
// batch of input restarts the countdown, so a message split by a shorter
// pause stays whole and one split by a longer pause arrives as two.
//
// A message is bounded: past kMaxMessage bytes without a silence the input
// is no station's message (a peer that never goes quiet); what was collected
// is dropped, tooLong() is emitted once, and input is thrown away until the
// line is silent again.
//
// A collector that is not listening holds no channel, reads nothing, holds
// nothing and has no timer armed.
class MessageCollector : public QObject {
    Q_OBJECT
public:
    enum class State {
        Stopped,    // not listening
        Idle,       // listening, nothing collected
        Collecting, // bytes collected; Timer8 runs
        Discarding, // past the bound: input dropped until Timer8 fires
    };
    // The longest message a station sends: a master's address byte and its
    // command, or a slave's reply. The command and reply boxes are line
    // boxes without a length of their own, which hold 32,767 characters.
    static constexpr qsizetype kLongestSent = 1 + 32767;
    // Where collecting stops: twice the longest message, so that no
    // message a station can send comes near it.
    static constexpr qsizetype kMaxMessage = 2 * kLongestSent;

    MessageCollector(Channel& channel, const Timings& timings, QObject* parent = nullptr);
    ~MessageCollector() override;

    State state() const { return state_; }
    bool isListening() const { return state_ != State::Stopped; }
    // What has been collected of the message under way.
    QByteArray pending() const { return buffer_; }
    bool timerArmed() const;

    // Opens the channel (kept when it is open already) and listens: input
    // waiting from before is thrown away, every later byte is collected.
    // False, with `failure` filled, when it cannot be opened.
    bool listen(ChannelFailure* failure);
    // Stops listening (a message under way is dropped) and closes the
    // channel once what was written has left.
    void stop();
    // Hands `bytes` to the channel as one packet; false when not listening
    // or refused.
    bool write(const QByteArray& bytes);

signals:
    // One whole message, never empty.
    void messageReceived(const QByteArray& message);
    // The input went past kMaxMessage without a silence and was dropped.
    void tooLong();
    // The device went away while listening; the collector has stopped.
    void lost(const rava::ChannelFailure& failure);

private:
    void onReceived();
    void onSilence();
    void onLost(const ChannelFailure& failure);

    ChannelSession* session_;
    OneShot* silence_;
    State state_ = State::Stopped;
    QByteArray buffer_;
};

} // namespace rava::polling
