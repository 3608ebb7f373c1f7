#pragma once

#include "poll_table.h"

#include <QObject>
#include <QPointer>
#include <array>

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::polling {

class MessageCollector;

// Why a polling cycle did not start or stopped.
enum class PollFailure {
    OpenFailed,  // the polling channel could not be opened (detail: the reason)
    WriteFailed, // a query could not be handed to the channel
    ChannelLost, // the device went away (detail: the reason)
};

// The master's endless polling cycle. Start opens the polling channel and
// walks the rows 1 to 5 over and over: a checked row gets its query and is
// followed by the poll pause `Timer7` (5000 ms); unchecked rows are passed
// over at once. Rows are read when their turn comes, so edits count at the
// row's next turn. With no row checked the cycle waits, sending nothing,
// until a row is checked.
//
// Every message the collector cuts out is a reply: its first byte is the
// address of the slave that sent it and picks the row (the first one,
// checked or not, with that address; none: dropped). The reply lights the
// row for the display hold (1000 ms): green with the reply text, or red with
// "Wrong command!" for the not-recognised byte; then the row is white and
// empty again. Each row has a hold of its own, so a reply for another row
// shows at once; a second reply for a lit row replaces the first and holds
// for a full second again.
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
    static constexpr int kPauseMs = 5000;
    static constexpr int kHoldMs = 1000;

    MasterPoller(Channel& channel, MessageCollector& collector, PollTable& table,
                 QObject* parent = nullptr);
    ~MasterPoller() override;

    void setPause(int ms);
    void setHold(int ms);

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
    // A reply lit `row`; 0 when its address matched no row and it was dropped.
    void replied(int row, const QByteArray& message);
    void failed(rava::polling::PollFailure failure, const QString& detail);

private:
    void nextTurn();
    void onPauseOver();
    void onMessage(const QByteArray& message);
    void onHoldOver(int row);
    void onEnabledChanged();
    void onLost(const QString& reason);
    void stop();

    QPointer<Channel> channel_;
    MessageCollector& collector_;
    PollTable& table_;
    OneShot* pause_;
    std::array<OneShot*, PollTable::kRows> holds_{};
    State state_ = State::Idle;
    int row_ = 1;
};

} // namespace rava::polling
