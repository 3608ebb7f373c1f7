#pragma once

#include "link/station_context.h"

#include <QString>
#include <vector>

namespace rava {

class Channel;
class Messenger;

// One step of switching the window to an operating mode: a control (by
// object name) enabled, disabled or, for a text box, emptied.
struct EnablingStep {
    enum Action { Enable, Disable, Empty };
    Action action;
    QString control;
};

// What a click on "Master" (Option1) and on "Slave" (Option2) does to the
// controls, step by step in the order given. Neither touches a channel.
const std::vector<EnablingStep>& masterEnabling();
const std::vector<EnablingStep>& slaveEnabling();

// A slave listens on its polling channel exactly while the "Polling" tab is
// current: entering the tab opens the channel, leaving it closes it. In
// master mode tab changes leave the channel alone.
class PollingTabRule {
public:
    enum class Action { None, Open, Close };

    static Action decide(bool slave, Tab current, Tab previous);

    // Carries out the rule for one tab change. A failed open is reported
    // through `messenger` and leaves the channel closed; opening a channel
    // that is already open keeps it open and reports nothing.
    static Action apply(bool slave, Tab current, Tab previous, Channel& channel,
                        Messenger& messenger);
};

} // namespace rava
