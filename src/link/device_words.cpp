#include "device_words.h"

#include "channel.h"

namespace rava {

QString deviceGone(const Channel* channel) {
    const QString device = channel ? channel->deviceName() : QString();
    return device.isEmpty() ? QStringLiteral("The device is no longer available")
                            : QStringLiteral("%1 is no longer available").arg(device);
}

QString deviceStalled(const Channel* channel, int seconds, qint64 unsent) {
    const QString device = channel ? channel->deviceName() : QString();
    return QStringLiteral("%1 took nothing for %2 s: %3 did not leave")
        .arg(device.isEmpty() ? QStringLiteral("The device") : device)
        .arg(seconds)
        .arg(unsent == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(unsent));
}

} // namespace rava
