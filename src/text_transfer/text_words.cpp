#include "text_words.h"

#include "link/device_words.h"

namespace rava::text {

QString sendFailureText(SendFailure failure, const QString& detail, const Channel* channel,
                        int linesWritten, int lineCount, int stallSeconds) {
    switch (failure) {
    case SendFailure::FileUnreadable:
    case SendFailure::OpenFailed:
        return detail;
    case SendFailure::WriteFailed:
        return QStringLiteral("Writing to the text channel failed; the send stopped.");
    case SendFailure::ChannelLost:
        return linesWritten > 0 ? QStringLiteral("%1; the send stopped after line %2 of %3.")
                                      .arg(deviceGone(channel))
                                      .arg(linesWritten)
                                      .arg(lineCount)
                                : QStringLiteral("%1; the send stopped before its first line.")
                                      .arg(deviceGone(channel));
    case SendFailure::NotSent:
        return QStringLiteral("%1; the send stopped after line %2 of %3.")
            .arg(deviceStalled(channel, stallSeconds, detail.toLongLong()))
            .arg(linesWritten)
            .arg(lineCount);
    }
    return detail;
}

QString receiveFailureText(ReceiveFailure failure, const QString& detail, const Channel* channel,
                           int linesReceived) {
    switch (failure) {
    case ReceiveFailure::OpenFailed:
        return detail;
    case ReceiveFailure::ChannelLost:
        return QStringLiteral("%1; the reception stopped after %2.")
            .arg(detail, linesReceived == 1 ? QStringLiteral("1 line")
                                            : QStringLiteral("%1 lines").arg(linesReceived));
    }
    return detail;
}

} // namespace rava::text
