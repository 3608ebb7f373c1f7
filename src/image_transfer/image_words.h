#pragma once

#include "image_receiver.h"
#include "image_sender.h"

#include <QString>

namespace rava {
class Channel;
}

namespace rava::image {

// What the user is told when a send of `path` did not start or stopped
// early; for a lost device `detail` is the sentence naming it. `sent` and `size` are the sender's
// counts; `stallSeconds` its pause's stall limit.
QString sendFailureText(SendFailure failure, const QString& detail, const QString& path,
                        const Channel* channel, qint64 sent, qint64 size, int stallSeconds);

// What the user is told when a reception did not start or stopped without
// an evaluation; `received` and `announced` are the receiver's counts.
QString receiveFailureText(ReceiveFailure failure, const QString& detail, const Channel* channel,
                           qint64 received, qint64 announced);

// What a reception that ended by silence came to, when it is no good image:
// empty for a complete one whose picture could be read (`readable`).
QString verdictWarning(Verdict verdict, qint64 announced, bool readable);

} // namespace rava::image
