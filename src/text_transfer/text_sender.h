#pragma once

#include "text_lines.h"
#include "text_timings.h"

#include <QObject>
#include <QPointer>

namespace rava {
class Channel;
class ChannelSession;
struct ChannelFailure;
class StationSettings;
class WirePause;
} // namespace rava

namespace rava::text {

// Why a send did not start or stopped early.
enum class SendFailure {
    FileUnreadable, // the file could not be read (detail: the reason)
    OpenFailed,     // the text channel could not be opened (detail: the reason)
    WriteFailed,    // the channel refused a line
    ChannelLost,    // the device went away during the send (detail: "COM 1 (...) is no
                    // longer available")
    NotSent,        // the line stopped taking bytes (detail: how many did not leave)
};

// Sends a text file line by line over the text channel: each line is one
// write, followed by the pacing wait (the one-shot `Timer1`) before the next
// line goes out. The wait lasts the pacing interval and, on a line too slow
// for it, until the line has carried the line before and fallen silent, so
// that every line stays a packet of its own. The operating mode, the remote address and the pacing
// interval are read from the station settings again for every line.
//
// A send is a chain of timer steps, never a loop that waits: send() writes
// the first line and arms Timer1; each tick writes the next line and arms it
// again; the tick after the last line ends the send, once every byte has
// left the line. Destroying the sender
// ends a running send and closes the channel.
class TextSender : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,   // no send running
        Pacing, // a line was handed to the channel; Timer1 runs
    };

    TextSender(Channel& channel, const StationSettings& settings, QObject* parent = nullptr);
    TextSender(Channel& channel, const StationSettings& settings, const Timings& timings,
               QObject* parent = nullptr);
    ~TextSender() override;

    State state() const { return state_; }
    // The pacing wait (its stall limit names the stall in messages).
    WirePause& pacing() { return *pacing_; }
    bool isBusy() const { return state_ != State::Idle; }
    // Lines handed to the channel so far in this send, and the send's total.
    int linesWritten() const { return written_; }
    int lineCount() const { return total_; }

    // Reads the file at `path`, then opens the channel and starts sending.
    // Returns false when nothing was started: a send is already running, the
    // file cannot be read or the channel cannot be opened (then failed() has
    // told why and nothing else changed). Once started, finished() follows.
    bool send(const QString& path);
    // Sends the text file held in `bytes` (the bytes the window showed),
    // split into lines as above; false when a send is already running or
    // the channel cannot be opened.
    bool sendBytes(QByteArray bytes);

signals:
    // true: the send holds the channel (other tabs and the buttons that
    // could start another send or open a file must be disabled); false: over.
    void busyChanged(bool busy);
    void failed(rava::text::SendFailure failure, const QString& detail);
    // One line was handed to the channel (0-based).
    void lineWritten(int index);
    // The send is over; `ok` is false when it stopped on a failure.
    void finished(bool ok);

private:
    void writeNextLine();
    void finish(bool ok, SendFailure failure = SendFailure::WriteFailed,
                const QString& detail = QString());
    void fail(SendFailure failure, const QString& detail);
    void onLost(const ChannelFailure& failure);
    void onStalled(qint64 unsent);

    ChannelSession* session_;
    const StationSettings& settings_;
    WirePause* pacing_;
    State state_ = State::Idle;
    LineSplitter lines_;
    int written_ = 0;
    int total_ = 0;
};

} // namespace rava::text
