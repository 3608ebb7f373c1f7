#include "device_choice.h"

#include "device_map.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QtSerialPort/QSerialPortInfo>
#include <algorithm>

namespace rava {

namespace {

bool validPort(int port) {
    return port >= 1 && port <= 4;
}

QString settingsKey(int port) {
    return QStringLiteral("devices/COM%1").arg(port);
}

// The user's settings of this program, in the platform's usual place
// (~/.config/rava2-demo/rava2-demo.conf on Linux).
QSettings userSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("rava2-demo"),
                     QStringLiteral("rava2-demo"));
}

QString canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? QDir::cleanPath(path) : c;
}

} // namespace

void attachStableNames(QList<SerialDevice>& devices, const QList<QPair<QString, QString>>& links) {
    QList<QPair<QString, QString>> sorted = links;
    std::sort(sorted.begin(), sorted.end());
    for (SerialDevice& device : devices) {
        for (const auto& [link, target] : sorted) {
            if (target == device.location) {
                device.stableName = link;
                break;
            }
        }
    }
}

void sortForChoosing(QList<SerialDevice>& devices) {
    std::stable_sort(devices.begin(), devices.end(),
                     [](const SerialDevice& a, const SerialDevice& b) {
                         if (a.stableName.isEmpty() != b.stableName.isEmpty())
                             return !a.stableName.isEmpty();
                         return a.location < b.location;
                     });
}

QString deviceLine(const SerialDevice& device) {
    QString line = device.path();
    if (!device.stableName.isEmpty())
        line += QStringLiteral(" (now %1)").arg(device.location);
    QStringList details;
    const QString description = device.description.trimmed();
    const QString maker = device.manufacturer.trimmed();
    if (!description.isEmpty())
        details << description;
    if (!maker.isEmpty() && !description.contains(maker, Qt::CaseInsensitive))
        details << maker;
    if (!device.serialNumber.trimmed().isEmpty())
        details << QStringLiteral("serial number %1").arg(device.serialNumber.trimmed());
    if (!details.isEmpty())
        line += QStringLiteral(": ") + details.join(QStringLiteral(", "));
    return line;
}

QList<QPair<QString, QString>> stableLinks(const QString& dir) {
    QList<QPair<QString, QString>> links;
    const QDir d(dir);
    for (const QString& name : d.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString link = d.filePath(name);
        const QString target = QFileInfo(link).canonicalFilePath();
        if (!target.isEmpty())
            links.append({link, target});
    }
    return links;
}

QList<SerialDevice> presentDevices() {
    QList<SerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
        d.location = info.systemLocation();
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        d.serialNumber = info.serialNumber();
        devices << d;
    }
#ifdef Q_OS_LINUX
    attachStableNames(devices, stableLinks(QStringLiteral("/dev/serial/by-id")));
#endif
    sortForChoosing(devices);
    return devices;
}

bool sameDevice(const QString& a, const QString& b) {
    return canonical(a) == canonical(b);
}

QString originText(const EntryDevice& entry) {
    switch (entry.origin) {
    case DeviceOrigin::Environment:
        return portVariable(entry.port);
    case DeviceOrigin::StartOption:
        return QStringLiteral("--device, this start only");
    case DeviceOrigin::Remembered:
        return QStringLiteral("remembered choice");
    case DeviceOrigin::Default:
        break;
    }
    return QStringLiteral("default");
}

QString entryLine(const EntryDevice& entry, bool present) {
    QString line = QStringLiteral("%1: %2 (%3, %4")
                       .arg(portLabel(entry.port), entry.path, originText(entry),
                            present ? QStringLiteral("present") : QStringLiteral("missing"));
    if (!entry.overridden.isEmpty())
        line += QStringLiteral("; the chosen %1 applies once %2 is unset")
                    .arg(entry.overridden, portVariable(entry.port));
    return line + QLatin1Char(')');
}

DeviceChoices& DeviceChoices::instance() {
    static DeviceChoices choices;
    return choices;
}

QString DeviceChoices::remembered(int port) const {
    if (!validPort(port))
        return QString();
    return userSettings().value(settingsKey(port)).toString();
}

bool DeviceChoices::hasChoice(int port) const {
    return validPort(port) && (!startChoice_[port].isEmpty() || !remembered(port).isEmpty());
}

EntryDevice DeviceChoices::resolve(int port) const {
    EntryDevice entry;
    entry.port = port;
    QString chosen;
    if (validPort(port)) {
        chosen = startChoice_[port];
        entry.origin = DeviceOrigin::StartOption;
        if (chosen.isEmpty()) {
            chosen = remembered(port);
            entry.origin = DeviceOrigin::Remembered;
        }
    }
    const QByteArray variable = qgetenv(portVariable(port).toLatin1().constData());
    if (!variable.isEmpty()) {
        entry.path = QString::fromLocal8Bit(variable);
        entry.origin = DeviceOrigin::Environment;
        entry.overridden = chosen;
    } else if (!chosen.isEmpty()) {
        entry.path = chosen;
    } else {
        entry.path = defaultDevice(port);
        entry.origin = DeviceOrigin::Default;
    }
    return entry;
}

void DeviceChoices::choose(int port, const QString& path) {
    if (!validPort(port) || path.trimmed().isEmpty())
        return;
    startChoice_[port].clear();
    QSettings s = userSettings();
    s.setValue(settingsKey(port), path.trimmed());
    s.sync();
}

void DeviceChoices::forget(int port) {
    if (!validPort(port))
        return;
    startChoice_[port].clear();
    QSettings s = userSettings();
    s.remove(settingsKey(port));
    s.sync();
}

void DeviceChoices::setForThisStart(int port, const QString& path) {
    if (validPort(port))
        startChoice_[port] = path.trimmed();
}

void DeviceChoices::clearStartChoices() {
    for (QString& choice : startChoice_)
        choice.clear();
}

} // namespace rava
