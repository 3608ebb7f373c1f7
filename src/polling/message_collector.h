#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::polling {

// Cuts messages out of the polling channel's byte stream: a message is
// everything received until the line has been silent for the end-of-message
// timeout `Timer8` (500 ms). Every batch of input restarts the countdown, so
// a message split by a shorter pause stays whole and one split by a longer
// pause arrives as two.
//
// A message is bounded: past kMaxMessage bytes without a silence the input
// is no station's message (a peer that never goes quiet); what was collected
// is dropped, tooLong() is emitted once, and input is thrown away until the
// line is silent again.
//
// Whoever opens the polling channel starts the collector and stops it before
// closing the channel. A stopped collector reads nothing, holds nothing and
// has no timer armed.
class MessageCollector : public QObject {
    Q_OBJECT
public:
    enum class State {
        Stopped,    // not listening
        Idle,       // listening, nothing collected
        Collecting, // bytes collected; Timer8 runs
        Discarding, // past the bound: input dropped until Timer8 fires
    };
    static constexpr int kSilenceMs = 500;
    // The longest message a station sends: a master's address byte and its
    // command, or a slave's reply. The command and reply boxes are line
    // boxes without a length of their own, which hold 32,767 characters.
    static constexpr qsizetype kLongestSent = 1 + 32767;
    // Where collecting stops: twice the longest message, so that no
    // message a station can send comes near it.
    static constexpr qsizetype kMaxMessage = 2 * kLongestSent;

    explicit MessageCollector(Channel& channel, QObject* parent = nullptr);
    ~MessageCollector() override;

    void setSilence(int ms);
    int silence() const;

    State state() const { return state_; }
    bool isListening() const { return state_ != State::Stopped; }
    // What has been collected of the message under way.
    QByteArray pending() const { return buffer_; }
    bool timerArmed() const;

    // Listens on the channel (which must be open): input waiting from before
    // is thrown away, and every later byte is collected.
    void start();
    // Opens the channel unless it is open already, then starts listening.
    // False, with the reason in `error` and the channel closed, when it
    // cannot be opened.
    bool openAndStart(QString* error);
    // Stops listening; a message under way is dropped.
    void stop();

signals:
    // One whole message, never empty.
    void messageReceived(const QByteArray& message);
    // The input went past kMaxMessage without a silence and was dropped.
    void tooLong();

private:
    void onReceived();
    void onSilence();

    QPointer<Channel> channel_;
    OneShot* silence_;
    State state_ = State::Stopped;
    QByteArray buffer_;
    int thresholdBefore_ = 0;
};

} // namespace rava::polling
