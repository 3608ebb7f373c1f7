#pragma once

#include <QString>

namespace rava {
class Channel;
}

namespace rava::polling {

enum class PollFailure;

// What the user is told when the master's cycle did not start or stopped.
QString masterFailureText(PollFailure failure, const QString& detail, const Channel* channel);
// The same for the slave's responder.
QString slaveFailureText(PollFailure failure, const QString& detail, const Channel* channel);

} // namespace rava::polling
