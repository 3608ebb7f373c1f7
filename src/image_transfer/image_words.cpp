#include "image_words.h"

#include "link/device_words.h"

#include <QFileInfo>

namespace rava::image {

namespace {
const QString kBadTransmission = QStringLiteral("Sorry, bad transmission. Retry, please!");
const QString kHeaderTooLong = QStringLiteral(
    "Sorry, bad transmission: what came is longer than any image header. Retry, please!");
const QString kTooMuchData = QStringLiteral(
    "Sorry, bad transmission: more came than the %1 bytes announced. Retry, please!");
const QString kCheckSettings =
    QStringLiteral("Check the settings! You may have set different baud rate speed"
                   " for the transmitter and the receiver!");
} // namespace

QString sendFailureText(SendFailure failure, const QString& detail, const QString& path,
                        const Channel* channel, qint64 sent, qint64 size, int stallSeconds) {
    const QString name = QFileInfo(path).fileName();
    switch (failure) {
    case SendFailure::EmptyFile:
        return QStringLiteral("The file %1 is empty: there is nothing to send.").arg(name);
    case SendFailure::TooLarge:
        return QStringLiteral("The file %1 is larger than 1 GiB, more than a receiving station "
                              "accepts.")
            .arg(name);
    case SendFailure::FileUnreadable:
        return QStringLiteral("Cannot open the file %1: %2.").arg(path, detail);
    case SendFailure::OpenFailed:
        return detail;
    case SendFailure::ReadFailed:
        return QStringLiteral("Reading the file %1 failed; the send stopped: %2.")
            .arg(name, detail);
    case SendFailure::WriteFailed:
        return QStringLiteral("Writing to the image channel failed; the send stopped.");
    case SendFailure::ChannelLost: {
        const qint64 written = blockCount(sent);
        return written > 0
                   ? QStringLiteral("%1; the send stopped after block %2 of %3.")
                         .arg(detail)
                         .arg(written)
                         .arg(blockCount(size))
                   : QStringLiteral("%1; the send stopped before its first block.").arg(detail);
    }
    case SendFailure::NotSent:
        return QStringLiteral("%1; the send of %2 stopped.")
            .arg(deviceStalled(channel, stallSeconds, detail.toLongLong()), name);
    }
    return detail;
}

QString receiveFailureText(ReceiveFailure failure, const QString& detail, const Channel* channel,
                           qint64 received, qint64 announced) {
    switch (failure) {
    case ReceiveFailure::TempFiles:
    case ReceiveFailure::OpenFailed:
        return detail;
    case ReceiveFailure::ChannelLost:
        return announced <= 0
                   ? QStringLiteral("%1; the reception stopped before an image header came.")
                         .arg(detail)
                   : QStringLiteral("%1; the reception stopped after %2 of %3 bytes.")
                         .arg(detail)
                         .arg(received)
                         .arg(announced);
    }
    return detail;
}

QString verdictWarning(Verdict verdict, qint64 announced, bool readable) {
    switch (verdict) {
    case Verdict::Complete:
        // Long enough, but not a picture: damaged on the way.
        return readable ? QString() : kBadTransmission;
    case Verdict::Incomplete:
        return kBadTransmission;
    case Verdict::NoHeader:
        return kCheckSettings;
    case Verdict::HeaderTooLong:
        return kHeaderTooLong;
    case Verdict::TooMuchData:
        return kTooMuchData.arg(announced);
    }
    return kBadTransmission;
}

} // namespace rava::image
