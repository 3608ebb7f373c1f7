#pragma once

#include "link/station_context.h"

#include <QString>
#include <vector>

namespace rava {

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

} // namespace rava
