#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include "text_timings.h"

namespace rava {
class Channel;
class ChannelSession;
struct ChannelFailure;
class OneShot;
class StationSettings;
} // namespace rava

namespace rava::text {

// Why a reception did not start or stopped early.
enum class ReceiveFailure {
    OpenFailed,  // the text channel could not be opened (detail: the reason)
    ChannelLost, // the device went away (detail: "COM 1 (...) is no longer available")
};

// Receives text lines on the text channel. Lines are cut out of the byte
// stream at each line feed; a line that has not yet arrived whole waits for
// the rest, and every complete line of a batch is reported. On a master the
// first byte of every line names the sending station; on a slave the sender
// is 0.
//
// The reception ends by itself after the idle timeout `Timer2` (1500 ms),
// which every received byte restarts and which is not armed before the
// first byte arrives; it ends at once with stop() (Break) or when the
// channel is lost. A line still incomplete at the end is reported as it is.
class TextReceiver : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,         // channel closed
        WaitingFirst, // channel open, nothing received yet, no timeout armed
        Receiving,    // something arrived; Timer2 runs
    };
    TextReceiver(Channel& channel, const StationSettings& settings, QObject* parent = nullptr);
    TextReceiver(Channel& channel, const StationSettings& settings, const Timings& timings,
                 QObject* parent = nullptr);
    ~TextReceiver() override;

    State state() const { return state_; }
    bool isBusy() const { return state_ != State::Idle; }

    // Receive: false when a reception already runs or the channel cannot be
    // opened (failed() tells why; afterwards everything is as before).
    bool receive();
    // Break: ends the reception for good; nothing when idle.
    void stop();

signals:
    // true: other tabs locked, Receive disabled, Break enabled; false: back.
    void busyChanged(bool busy);
    // A received line as it came off the wire, without the line feed that
    // ended it (a carriage return before it stays) and, on a master, without
    // the sender's address byte.
    void lineReceived(const QByteArray& line, int sender);
    // Every complete line of one receive event has been reported.
    void batchDone();
    void failed(rava::text::ReceiveFailure failure, const QString& detail);

private:
    void onReceived();
    void onIdleTimeout();
    void onLost(const ChannelFailure& failure);
    void takeLines(const QByteArray& bytes);
    void flushPartialLine();
    void end();

    ChannelSession* session_;
    const StationSettings& settings_;
    OneShot* idle_;
    State state_ = State::Idle;
    // The line being assembled: its sender is known once its first byte came.
    QByteArray partial_;
    bool lineStarted_ = false;
    int sender_ = 0;
};

} // namespace rava::text
