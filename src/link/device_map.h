#pragma once

#include <QString>

namespace rava {

// The device behind list entry "COM n" (n = 1..4): the environment variable
// RAVA2_COMn when set and not empty, else the platform's n-th serial port.
QString deviceForPort(int port);

// "COM n", as the port list shows it.
QString portLabel(int port);

} // namespace rava
