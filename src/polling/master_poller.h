#pragma once

#include "poll_table.h"
#include "poll_types.h"

#include <QObject>
#include <array>

namespace rava {
class OneShot;
struct ChannelFailure;
} // namespace rava

namespace rava::polling {

class MessageCollector;

// The master's endless polling cycle. Start opens the polling channel and
// walks the rows 1 to 5 over and over: a checked row gets its query and is
// followed by the poll pause `Timer7` (5000 ms); unchecked rows are passed
// over at once. Rows are read when their turn comes, so edits count at the
// row's next turn. With no row checked the cycle waits, sending nothing,
// until a row is checked.
//
// Every message the collector cuts out is a reply: its first byte is the
// address of the slave that sent it and picks the row (the first one,
// checked or not, with that address). The cycle tells what came of each
// query as a MasterOutcome: ReplyOk with the reply's text, WrongCommand for
// the not-recognised byte alone, NoReply when the pause ended without the
// row's reply, UnknownSender for a reply that matches no row. A reply's
// outcome holds for the display hold (1000 ms), then HoldOver; each row has
// a hold of its own, and a second reply for a row holds anew.
//
// End stops the cycle at once: no query is written after it, the pause is
// cancelled and Start can run again straight away.
class MasterPoller : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,      // channel closed (as far as the cycle is concerned)
        Pausing,   // a query went out; Timer7 runs
        NoRowsYet, // running, but no row is checked: waiting for one
    };

    MasterPoller(MessageCollector& collector, PollTable& table, const Timings& timings,
                 QObject* parent = nullptr);
    ~MasterPoller() override;

    State state() const { return state_; }
    bool isRunning() const { return state_ != State::Idle; }
    // The row whose turn it is (1..5).
    int currentRow() const { return row_; }

    // Start: false when a cycle already runs, or when the channel cannot be
    // opened (failed() tells why; everything stays as it was).
    bool start();
    // End: stops the cycle and closes the channel; nothing when idle.
    void end();

signals:
    void runningChanged(bool running);
    // A query was handed to the channel.
    void queried(int row, const QByteArray& query);
    void outcome(const rava::polling::MasterOutcome& outcome);
    void failed(rava::polling::PollFailure failure, const QString& detail);

private:
    void nextTurn();
    void onPauseOver();
    void onMessage(const QByteArray& message);
    void onEnabledChanged();
    void onLost(const ChannelFailure& failure);
    void stop();

    MessageCollector& collector_;
    PollTable& table_;
    OneShot* pause_;
    std::array<OneShot*, PollTable::kRows> holds_{};
    State state_ = State::Idle;
    int row_ = 1;
    bool answered_ = false; // the queried row's reply came during this pause
};

} // namespace rava::polling
