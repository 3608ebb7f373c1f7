#pragma once

#include "link/station_context.h"
#include "poll_table.h"
#include "slave_responder.h"

#include <QObject>
#include <QPointer>
#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace rava {
class Channel;
}

namespace rava::polling {

class MasterPoller;
class MessageCollector;
enum class PollFailure;

// The controls of the "Polling" tab.
struct PollingControls {
    // Poll rows 1..5 at index 0..4.
    std::array<QCheckBox*, PollTable::kRows> enable;  // Check1(i)
    std::array<QLineEdit*, PollTable::kRows> address; // Text4(i)
    std::array<QLineEdit*, PollTable::kRows> command; // Text14(i)
    std::array<QLineEdit*, PollTable::kRows> reply;   // Text19(i)
    QLabel* message;                                  // Label25, the poll table's message line
    QPushButton* start;                               // Command15 "Start"
    QPushButton* end;                                 // Command20 "End"
    QLineEdit* slaveCommand;                          // Text24
    QLineEdit* slaveReply;                            // Text25
    QLabel* slaveStatus;                              // Label24, the slave's status light

    static PollingControls resolve(QWidget* form);
};

// The waits of polling; tests shorten them.
struct PollTimings {
    int pauseMs = 5000;  // Timer7, after each query to a checked row
    int silenceMs = 500; // Timer8, the end of a message
    int holdMs = 1000;   // how long a light stays on
};

// The "Polling" tab: keeps the poll table and the slave's command and reply
// in step with their boxes, runs the master cycle from Start and End, the
// slave responder while a slave shows this tab, and shows lights and
// messages.
class PollingPage : public QObject {
    Q_OBJECT
public:
    // Uses the station's polling channel.
    PollingPage(const StationContext& ctx, QWidget* form, QObject* parent = nullptr);
    // Uses `channel` and `timings` instead.
    PollingPage(const StationContext& ctx, QWidget* form, Channel& channel,
                const PollTimings& timings, QObject* parent = nullptr);
    ~PollingPage() override;

    // The window's tab changed: a slave listens exactly while this tab is
    // current. In master mode tab changes change nothing.
    void onTabChanged(Tab current, Tab previous);

    PollTable& table() { return table_; }
    MasterPoller& master() { return *master_; }
    SlaveResponder& slave() { return *slave_; }
    MessageCollector& collector() { return *collector_; }

private:
    void wireRow(int index);
    void startPolling();
    void endPolling();
    void onRunningChanged(bool running);
    void onModeChanged();
    void onFailed(PollFailure failure, const QString& detail);
    void onSlaveFailed(PollFailure failure, const QString& detail);
    void showReply(int index);
    void showSlaveLight(Light light, const QString& status);
    void tell(const QString& message);

    StationContext ctx_;
    PollingControls ui_;
    QPointer<Channel> channel_;
    PollTable table_;
    SlaveAnswer answer_;
    MessageCollector* collector_;
    MasterPoller* master_;
    SlaveResponder* slave_;
};

// What a tab change does to a slave's polling channel.
enum class SlaveChannelAction { None, Open, Close };
SlaveChannelAction slaveChannelAction(bool slave, Tab current, Tab previous);

// The colour a light is shown in.
QColor colourOf(Light light);

} // namespace rava::polling
