#pragma once

#include <QPixmap>

namespace rava {

// The two pictures of the window's right column, drawn at their own size
// and stretched by the picture boxes: a 257 x 72 "RAVA 2" wordmark with radio
// waves (upper) and a 180 x 124 drawing of the modem with its antenna (lower).
QPixmap upperLogo();
QPixmap lowerLogo();

} // namespace rava
