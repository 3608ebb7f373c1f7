#pragma once

#include <QString>

namespace rava {

// The device behind list entry "COM n" (n = 1..4): the environment variable
// RAVA2_COMn when set and not empty, else the device chosen for the entry
// (for this start, or remembered), else the platform's n-th serial port.
QString deviceForPort(int port);

// The platform's n-th serial port: /dev/ttyS(n-1) on Linux, COMn on Windows.
QString defaultDevice(int port);

// The environment variable that maps "COM n" to a device (RAVA2_COMn).
QString portVariable(int port);

// "COM n", as the port list shows it.
QString portLabel(int port);

} // namespace rava
