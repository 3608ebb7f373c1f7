#pragma once

#include "text_receiver.h"
#include "text_sender.h"

#include <QString>

namespace rava {
class Channel;
}

namespace rava::text {

// What the user is told when a send did not start or stopped early. The
// sender's own counts say how far it got; `stallSeconds` is its pause's
// stall limit.
QString sendFailureText(SendFailure failure, const QString& detail, const Channel* channel,
                        int linesWritten, int lineCount, int stallSeconds);

// What the user is told when a reception did not start or stopped early,
// after `linesReceived` lines.
QString receiveFailureText(ReceiveFailure failure, const QString& detail, const Channel* channel,
                           int linesReceived);

} // namespace rava::text
