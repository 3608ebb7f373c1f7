#pragma once

#include <QString>

namespace rava::polling {

enum class PollFailure;

// What the user is told when the master's cycle did not start or stopped.
QString masterFailureText(PollFailure failure, const QString& detail);
// The same for the slave's responder.
QString slaveFailureText(PollFailure failure, const QString& detail);

} // namespace rava::polling
