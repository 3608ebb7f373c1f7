#pragma once

#include <QString>

namespace rava {

class Channel;

// The first half of every message about a device that went away while a
// feature used it: "COM 1 (/dev/ttyS0) is no longer available", naming the
// COM entry and the device the channel held ("The device is no longer
// available" when it names none). Each page adds what stopped:
// "...; the send stopped after line 3 of 9."
QString deviceGone(const Channel* channel);

// The same for a device that stopped taking bytes (a line that made no
// progress for `seconds`): "COM 1 (/dev/ttyS0) took nothing for 10 s:
// 1234 bytes did not leave".
QString deviceStalled(const Channel* channel, int seconds, qint64 unsent);

} // namespace rava
