#include "device_words.h"

#include "channel.h"

namespace rava {

QString deviceGone(const Channel* channel) {
    const QString device = channel ? channel->deviceName() : QString();
    return device.isEmpty() ? QStringLiteral("The device is no longer available")
                            : QStringLiteral("%1 is no longer available").arg(device);
}

} // namespace rava
