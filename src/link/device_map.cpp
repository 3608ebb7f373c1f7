#include "device_map.h"

#include <QByteArray>
#include <QtGlobal>

namespace rava {

QString deviceForPort(int port) {
    const QByteArray name = "RAVA2_COM" + QByteArray::number(port);
    const QByteArray value = qgetenv(name.constData());
    if (!value.isEmpty())
        return QString::fromLocal8Bit(value);
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
