#include "device_map.h"

#include "device_choice.h"

#include <QtGlobal>

namespace rava {

QString portVariable(int port) {
    return QStringLiteral("RAVA2_COM%1").arg(port);
}

QString deviceForPort(int port) {
    return DeviceChoices::instance().resolve(port).path;
}

QString defaultDevice(int port) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString portLabel(int port) {
    return QStringLiteral("COM %1").arg(port);
}

} // namespace rava
