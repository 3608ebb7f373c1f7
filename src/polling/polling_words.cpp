#include "polling_words.h"

#include "master_poller.h"

namespace rava::polling {

QString masterFailureText(PollFailure failure, const QString& detail) {
    switch (failure) {
    case PollFailure::OpenFailed:
        return detail.isEmpty() ? QStringLiteral("The polling channel cannot be opened.") : detail;
    case PollFailure::WriteFailed:
        return QStringLiteral("Writing to the polling channel failed; polling stopped.");
    case PollFailure::ChannelLost:
        return QStringLiteral("%1; polling stopped.").arg(detail);
    }
    return detail;
}

QString slaveFailureText(PollFailure failure, const QString& detail) {
    switch (failure) {
    case PollFailure::OpenFailed:
        return detail.isEmpty() ? QStringLiteral("The polling channel cannot be opened.") : detail;
    case PollFailure::WriteFailed:
        return QStringLiteral(
            "Writing to the polling channel failed; the slave no longer answers.");
    case PollFailure::ChannelLost:
        return QStringLiteral("%1; the slave no longer answers.").arg(detail);
    }
    return detail;
}

} // namespace rava::polling
