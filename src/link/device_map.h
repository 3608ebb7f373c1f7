#pragma once

#include <QString>

namespace rava {

// The device behind list entry "COM n" (n = 1..4): the environment variable
// RAVA2_COMn when set and not empty, else the platform's n-th serial port.
QString deviceForPort(int port);

// The environment variable that maps "COM n" to a device (RAVA2_COMn).
QString portVariable(int port);

// Where the device of "COM n" comes from, for a user whose device is missing:
// the variable that names it, or how to name another one.
QString deviceHint(int port);

// "COM n", as the port list shows it.
QString portLabel(int port);

} // namespace rava
