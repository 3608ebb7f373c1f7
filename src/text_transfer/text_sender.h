#pragma once

#include "text_lines.h"

#include <QObject>
#include <QPointer>
#include <functional>

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::text {

// Sends a text file line by line over the text channel: each line is one
// write, followed by the pacing wait (the one-shot `Timer1`) before the next
// line goes out. The operating mode, the remote address and the pacing
// interval are asked for again for every line.
//
// A send is a chain of timer steps, never a loop that waits: send() writes
// the first line and arms Timer1; each tick writes the next line and arms it
// again; the tick after the last line ends the send. Destroying the sender
// ends a running send and closes the channel.
class TextSender : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,   // no send running
        Pacing, // a line was handed to the channel; Timer1 runs
    };

    TextSender(Channel& channel, std::function<bool()> isMaster, std::function<int()> remoteAddress,
               std::function<int()> pacingMs, QObject* parent = nullptr);
    ~TextSender() override;

    State state() const { return state_; }
    bool isBusy() const { return state_ != State::Idle; }

    // Starts sending the file at `path`. Returns false when nothing was
    // started: a send is already running, or the channel cannot be opened
    // (then failed() has told why and nothing else changed). Once started,
    // finished() always follows.
    bool send(const QString& path);

signals:
    // true: the send holds the channel (other tabs and the buttons that
    // could start another send or open a file must be disabled); false: over.
    void busyChanged(bool busy);
    void captionChanged(const QString& caption);
    void failed(const QString& message);
    // One line was handed to the channel (0-based).
    void lineWritten(int index);
    // The send is over; `ok` is false when it stopped on a failure.
    void finished(bool ok);

private:
    void writeNextLine();
    void finish(const QString& error);
    void onLost(const QString& reason);

    QPointer<Channel> channel_;
    std::function<bool()> isMaster_;
    std::function<int()> remoteAddress_;
    std::function<int()> pacingMs_;
    OneShot* pacing_;
    State state_ = State::Idle;
    LineSplitter lines_;
    int written_ = 0;
};

} // namespace rava::text
