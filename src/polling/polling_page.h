#pragma once

#include "form/station_context.h"
#include "link/station_settings.h"
#include "poll_table.h"
#include "poll_types.h"
#include "slave_responder.h"

#include <QObject>
#include <array>
#include <vector>

class QCheckBox;
class QColor;
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
    // The frames and headings of the master's table and the slave's part.
    QWidget* masterFrame;   // Frame9 "Master"
    QWidget* addressTitle;  // Label3
    QWidget* commandTitle;  // Label20
    QWidget* replyTitle;    // Label21
    QWidget* slaveFrame;    // Frame10
    QWidget* slaveCmdTitle; // Label22
    QWidget* slaveRepTitle; // Label23

    static PollingControls resolve(QWidget* form);
};

// How an outcome is shown: the light's colour and the caption.
enum class Light { White, Green, Red };
QColor colourOf(Light light);

// The "Polling" tab: keeps the poll table and the slave's command and reply
// in step with their boxes, runs the master cycle from Start and End, the
// slave responder while a slave shows this tab, and shows every outcome
// with its caption and light.
class PollingPage : public QObject {
    Q_OBJECT
public:
    // Uses the station's polling channel and the real timings.
    PollingPage(const StationContext& ctx, QWidget* form, QObject* parent = nullptr);
    // Uses `channel` and `timings` instead.
    PollingPage(const StationContext& ctx, QWidget* form, Channel& channel, const Timings& timings,
                QObject* parent = nullptr);
    ~PollingPage() override;

    // The window's tab changed: a slave listens exactly while this tab is
    // current. In master mode tab changes change nothing.
    void onTabChanged(Tab current, Tab previous);
    // The user chose `mode`: the master's table or the slave's part of the
    // tab becomes usable, the other one not.
    void applyMode(Mode mode);

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
    void showOutcome(const MasterOutcome& outcome);
    void showSlaveOutcome(const SlaveOutcome& outcome);
    void showReply(int row, Light light, const QString& text);
    void tell(const QString& message);

    StationContext ctx_;
    PollingControls ui_;
    PollTable table_;
    SlaveAnswer answer_;
    MessageCollector* collector_;
    MasterPoller* master_;
    SlaveResponder* slave_;
    // The controls usable only in master mode and only in slave mode.
    std::vector<QWidget*> masterOnly_;
    std::vector<QWidget*> slaveOnly_;
};

// What a tab change does to a slave's polling channel.
enum class SlaveChannelAction { None, Open, Close };
SlaveChannelAction slaveChannelAction(bool slave, Tab current, Tab previous);

} // namespace rava::polling
