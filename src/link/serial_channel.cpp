#include "serial_channel.h"

#include "device_map.h"
#include "line_settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QTimer>

namespace rava {

namespace {

// Which channel of this process holds which device, and which devices are
// still sending what a closed channel had queued.
struct PortRegistry {
    QHash<QString, QString> holders;
    QHash<QString, QSerialPort*> draining;
};

PortRegistry& registry() {
    static PortRegistry r;
    return r;
}

QString deviceKey(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// Longest a closed port may take to send what is left: ten bits a byte at
// the line's baud rate, plus a margin. Past that the device is closed anyway.
int drainDeadlineMs(qint64 pending, qint32 baud) {
    const qint64 ms = pending * 10 * 1000 / (baud > 0 ? baud : 9600);
    return static_cast<int>(qMin<qint64>(ms + 2000, 60000));
}

void finishDrain(const QString& key, QSerialPort* port) {
    PortRegistry& r = registry();
    if (r.draining.value(key) == port)
        r.draining.remove(key);
    QObject::disconnect(port, nullptr, nullptr, nullptr);
    port->close();
    port->deleteLater();
}

// Keeps `port` open until its queued bytes have reached the device.
void drainThenClose(const QString& key, QSerialPort* port) {
    port->setParent(QCoreApplication::instance());
    registry().draining.insert(key, port);
    auto* deadline = new QTimer(port);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, port, [key, port] { finishDrain(key, port); });
    QObject::connect(port, &QSerialPort::bytesWritten, port, [key, port] {
        if (port->bytesToWrite() == 0)
            finishDrain(key, port);
    });
    QObject::connect(port, &QSerialPort::errorOccurred, port,
                     [key, port](QSerialPort::SerialPortError e) {
                         if (e == QSerialPort::ResourceError || e == QSerialPort::WriteError)
                             finishDrain(key, port);
                     });
    deadline->start(drainDeadlineMs(port->bytesToWrite(), port->baudRate()));
}

} // namespace

QString describeSerialError(QSerialPort::SerialPortError error, const QString& systemText) {
    QString what;
    switch (error) {
    case QSerialPort::DeviceNotFoundError: what = QStringLiteral("the device does not exist"); break;
    case QSerialPort::PermissionError:
        what = QStringLiteral("permission denied or the device is in use");
        break;
    case QSerialPort::OpenError: what = QStringLiteral("the device is already open"); break;
    case QSerialPort::ResourceError: what = QStringLiteral("the device was removed"); break;
    case QSerialPort::WriteError: what = QStringLiteral("writing failed"); break;
    case QSerialPort::ReadError: what = QStringLiteral("reading failed"); break;
    case QSerialPort::UnsupportedOperationError:
        what = QStringLiteral("the device does not support this setting");
        break;
    default: what = QStringLiteral("the device cannot be used"); break;
    }
    if (!systemText.isEmpty() && systemText.compare(what, Qt::CaseInsensitive) != 0)
        what += QStringLiteral(" (") + systemText + QLatin1Char(')');
    return what;
}

SerialChannel::SerialChannel(const QString& name, int inBufferSize, int outBufferSize,
                             int threshold, QObject* parent)
    : Channel(parent), inBufferSize_(inBufferSize), outBufferSize_(outBufferSize) {
    setObjectName(name);
    setReceiveThreshold(threshold);
}

SerialChannel::~SerialChannel() {
    // Ending the program ends the channel: no drain, the window is gone.
    if (serial_) {
        registry().holders.remove(heldKey_);
        serial_->close();
    }
}

void SerialChannel::setPort(int port) {
    if (port >= 1 && port <= 4)
        port_ = port;
}

QString SerialChannel::devicePath() const { return deviceForPort(port_); }

bool SerialChannel::setSettings(const QString& settings) {
    if (!parseSettings(settings))
        return false;
    settings_ = settings;
    if (serial_)
        applySettings();
    return true;
}

void SerialChannel::applySettings() {
    const auto p = parseSettings(settings_);
    if (!p || !serial_)
        return;
    serial_->setBaudRate(p->baud);
    serial_->setParity(p->parity);
    serial_->setDataBits(p->dataBits);
    serial_->setStopBits(p->stopBits);
    serial_->setFlowControl(QSerialPort::NoFlowControl);
}

bool SerialChannel::open(QString* error) {
    if (serial_)
        return true; // already open: nothing to do
    const QString path = devicePath();
    const QString key = deviceKey(path);
    const QString where = QStringLiteral("%1 (%2)").arg(portLabel(port_), path);
    PortRegistry& r = registry();

    if (r.holders.contains(key)) {
        if (error)
            *error = QStringLiteral("Cannot open %1: it is in use by %2 of this program.")
                         .arg(where, r.holders.value(key));
        return false;
    }

    QSerialPort* port = r.draining.take(key);
    if (port) {
        // Still sending what this device was last given: carry on with it.
        QObject::disconnect(port, nullptr, nullptr, nullptr);
        qDeleteAll(port->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly));
        port->setParent(this);
        port->readAll();
    } else {
        port = new QSerialPort(this);
        port->setPortName(path);
        if (!port->open(QIODevice::ReadWrite)) {
            if (error)
                *error = QStringLiteral("Cannot open %1: %2.")
                             .arg(where, describeSerialError(port->error(), port->errorString()));
            delete port;
            return false;
        }
    }
    port->setReadBufferSize(0);
    serial_ = port;
    heldKey_ = key;
    r.holders.insert(key, objectName());
    applySettings();
    connect(port, &QSerialPort::readyRead, this, &SerialChannel::onReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &SerialChannel::onError);
    return true;
}

void SerialChannel::close() {
    if (!serial_)
        return;
    QSerialPort* port = serial_;
    serial_ = nullptr;
    registry().holders.remove(heldKey_);
    disconnect(port, nullptr, this, nullptr);
    if (port->bytesToWrite() > 0) {
        drainThenClose(heldKey_, port);
    } else {
        port->close();
        port->deleteLater();
    }
    heldKey_.clear();
}

bool SerialChannel::isOpen() const { return serial_ && serial_->isOpen(); }

bool SerialChannel::write(const QByteArray& bytes) {
    if (!isOpen())
        return false;
    return serial_->write(bytes) == bytes.size();
}

QByteArray SerialChannel::readAll() { return serial_ ? serial_->readAll() : QByteArray(); }

qint64 SerialChannel::bytesWaiting() const { return serial_ ? serial_->bytesAvailable() : 0; }

qint64 SerialChannel::bytesToWrite() const { return serial_ ? serial_->bytesToWrite() : 0; }

void SerialChannel::discardInput() {
    if (!serial_)
        return;
    serial_->clear(QSerialPort::Input);
    serial_->readAll();
}

void SerialChannel::discardOutput() {
    if (serial_)
        serial_->clear(QSerialPort::Output);
}

void SerialChannel::onReadyRead() {
    if (receiveThreshold() >= 1 && serial_ && serial_->bytesAvailable() > 0)
        emit received();
}

void SerialChannel::onError(QSerialPort::SerialPortError error) {
    if (!serial_)
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError: break;
    default: return; // not fatal for an open channel
    }
    const QString reason =
        QStringLiteral("%1 (%2): %3.")
            .arg(portLabel(port_), devicePath(),
                 describeSerialError(error, serial_->errorString()));
    QSerialPort* port = serial_;
    serial_ = nullptr;
    registry().holders.remove(heldKey_);
    heldKey_.clear();
    disconnect(port, nullptr, this, nullptr);
    port->close();
    port->deleteLater();
    emit lost(reason);
}

} // namespace rava
