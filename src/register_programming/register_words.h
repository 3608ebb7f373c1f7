#pragma once

#include "register_programmer.h"

#include <QString>

namespace rava::registers {

// What the status line says for an outcome.
QString statusText(const Outcome& outcome);

// The message that goes with an outcome beyond the status line: why the
// port could not be used, or that the device went away (the outcome's
// detail names it); empty otherwise.
QString failureMessage(const Outcome& outcome);

// The values the parity box keeps: 0 none, 1 odd, 3 even (2 is no parity
// setting, though it lies in range).
bool parityAccepts(double value);

} // namespace rava::registers
