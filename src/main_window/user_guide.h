#pragma once

#include <QString>

namespace rava {

// The user guide shown on the "Help" page: 27 lines joined by CR LF, with no
// line break after the last line.
QString userGuideText();

} // namespace rava
