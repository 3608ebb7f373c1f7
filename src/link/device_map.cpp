#include "device_map.h"

#include <QByteArray>
#include <QtGlobal>

namespace rava {

QString portVariable(int port) {
    return QStringLiteral("RAVA2_COM%1").arg(port);
}

QString deviceHint(int port) {
    const QString name = portVariable(port);
    if (qEnvironmentVariableIsEmpty(name.toLatin1().constData()))
        return QStringLiteral("Set %1 to the device of %2.").arg(name, portLabel(port));
    return QStringLiteral("The device is named by %1.").arg(name);
}

QString deviceForPort(int port) {
    const QByteArray name = portVariable(port).toLatin1();
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
