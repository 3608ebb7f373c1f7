#include "serial_channel.h"

#include "device_map.h"
#include "open_failure.h"
#include "wire_trace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#endif

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

bool deviceWritable(QSerialPort* port) {
#ifdef Q_OS_UNIX
    pollfd p{int(port->handle()), POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) && !(p.revents & (POLLERR | POLLHUP));
#else
    Q_UNUSED(port);
    return false;
#endif
}

constexpr const char* kDrainDeadline = "rava-drain-deadline";

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
    deadline->setObjectName(QLatin1String(kDrainDeadline));
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, port, [key, port] { finishDrain(key, port); });
    QObject::connect(port, &QSerialPort::bytesWritten, port, [key, port] {
        if (port->bytesToWrite() == 0)
            finishDrain(key, port);
    });
    QObject::connect(port, &QSerialPort::errorOccurred, port,
                     [key, port](QSerialPort::SerialPortError e) {
                         if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                             finishDrain(key, port);
                     });
    deadline->start(drainDeadlineMs(port->bytesToWrite(), port->baudRate()));
}

} // namespace

QString describeSerialError(QSerialPort::SerialPortError error, const QString& systemText) {
    QString what;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        what = QStringLiteral("the device does not exist");
        break;
    case QSerialPort::PermissionError:
        what = QStringLiteral("permission denied or the device is in use");
        break;
    case QSerialPort::OpenError:
        what = QStringLiteral("the device is already open");
        break;
    case QSerialPort::ResourceError:
        what = QStringLiteral("the device was removed");
        break;
    case QSerialPort::WriteError:
        what = QStringLiteral("writing failed");
        break;
    case QSerialPort::ReadError:
        what = QStringLiteral("reading failed");
        break;
    case QSerialPort::UnsupportedOperationError:
        what = QStringLiteral("the device does not support this setting");
        break;
    default:
        what = QStringLiteral("the device cannot be used");
        break;
    }
    if (!systemText.isEmpty() && systemText.compare(what, Qt::CaseInsensitive) != 0)
        what += QStringLiteral(" (") + systemText + QLatin1Char(')');
    return what;
}

SerialChannel::SerialChannel(const QString& name, const QString& description, int threshold,
                             QObject* parent)
    : Channel(parent) {
    setObjectName(name);
    setDescription(description);
    setReceiveThreshold(threshold);
}

SerialChannel::~SerialChannel() {
    // Ending the program ends the channel: no drain, the window is gone.
    release(false);
}

void SerialChannel::setPort(int port) {
    if (port >= 1 && port <= 4)
        port_ = port;
}

QString SerialChannel::devicePath() const {
    return deviceForPort(port_);
}

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
    markParity(*p);
}

// Parity on: check it on input and mark bad bytes, so that they can be shown
// as "?" instead of being dropped. Pseudo-terminals forget the parity bits of
// the control flags, so the input flags are also what a simulated module
// reads to learn the station's parity.
void SerialChannel::markParity(const LineParams& params) {
    const bool on =
        params.parity == QSerialPort::OddParity || params.parity == QSerialPort::EvenParity;
#ifdef Q_OS_UNIX
    termios t{};
    const int fd = int(serial_->handle());
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        if (on) {
            t.c_iflag |= INPCK | PARMRK;
            t.c_iflag &= ~tcflag_t(IGNPAR | ISTRIP);
        } else {
            t.c_iflag &= ~tcflag_t(INPCK | PARMRK);
        }
        if (params.parity == QSerialPort::OddParity)
            t.c_cflag |= PARODD;
        else
            t.c_cflag &= ~tcflag_t(PARODD);
        if (tcsetattr(fd, TCSANOW, &t) == 0) {
            if (!on && parityMarks_) {
                in_ += carry_;
                carry_.clear();
            }
            parityMarks_ = on;
            return;
        }
    }
#endif
    parityMarks_ = false;
}

QByteArray decodeParityMarks(QByteArray& carry, const QByteArray& raw) {
    const QByteArray data = carry + raw;
    carry.clear();
    QByteArray out;
    out.reserve(data.size());
    const qsizetype n = data.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = data[i];
        if (c != '\xff') {
            out.append(c);
            ++i;
            continue;
        }
        if (i + 1 >= n) {
            carry = data.mid(i);
            break;
        }
        if (data[i + 1] == '\xff') {
            out.append('\xff');
            i += 2;
        } else if (data[i + 1] == '\0') {
            if (i + 2 >= n) {
                carry = data.mid(i);
                break;
            }
            out.append('?');
            i += 3;
        } else {
            out.append(c);
            ++i;
        }
    }
    return out;
}

void SerialChannel::pull() const {
    if (!serial_ || serial_->bytesAvailable() == 0)
        return;
    const QByteArray raw = serial_->readAll();
    const QByteArray bytes = parityMarks_ ? decodeParityMarks(carry_, raw) : raw;
    if (WireTrace* trace = WireTrace::instance())
        trace->record(traceName_.isEmpty() ? objectName() : traceName_, "in", bytes);
    in_ += bytes;
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
        // Only our own timer: the port keeps timers of its own as children.
        delete port->findChild<QTimer*>(QLatin1String(kDrainDeadline), Qt::FindDirectChildrenOnly);
        port->setParent(this);
        port->readAll();
        port->clear(QSerialPort::Input);
    } else {
        port = new QSerialPort(this);
        port->setPortName(path);
        if (!port->open(QIODevice::ReadWrite)) {
            if (error)
                *error = openFailureText(port_, path, port->error(), port->errorString());
            delete port;
            return false;
        }
    }
    port->setReadBufferSize(0);
    in_.clear();
    carry_.clear();
    serial_ = port;
    heldKey_ = key;
    heldWhere_ = where;
    lastWhere_ = where;
    r.holders.insert(key, description().isEmpty() ? objectName() : description());
    applySettings();
    connect(port, &QSerialPort::readyRead, this, &SerialChannel::onReadyRead);
    connect(port, &QSerialPort::errorOccurred, this, &SerialChannel::onError);
    return true;
}

void SerialChannel::close() {
    release(true);
}

void SerialChannel::release(bool drain) {
    if (!serial_)
        return;
    QSerialPort* port = serial_;
    serial_ = nullptr;
    in_.clear();
    carry_.clear();
    registry().holders.remove(heldKey_);
    disconnect(port, nullptr, this, nullptr);
    if (drain && port->bytesToWrite() > 0) {
        drainThenClose(heldKey_, port);
    } else {
        port->close();
        port->deleteLater();
    }
    heldKey_.clear();
    heldWhere_.clear();
}

QString SerialChannel::deviceName() const {
    if (!lastWhere_.isEmpty())
        return lastWhere_;
    return QStringLiteral("%1 (%2)").arg(portLabel(port_), devicePath());
}

bool SerialChannel::isOpen() const {
    return serial_ && serial_->isOpen();
}

bool SerialChannel::write(const QByteArray& bytes) {
    if (!isOpen())
        return false;
    if (serial_->write(bytes) != bytes.size())
        return false;
    if (WireTrace* trace = WireTrace::instance())
        trace->record(traceName_.isEmpty() ? objectName() : traceName_, "out", bytes);
    // Hand the bytes to the device now rather than on the next pass of the
    // event loop, so that a pause timed from here is a pause on the line.
    // Only when the device has room: a flush into a full device fails the
    // port, and what it cannot take yet stays queued anyway.
    if (deviceWritable(serial_))
        serial_->flush();
    return true;
}

QByteArray SerialChannel::readAll() {
    pull();
    QByteArray all;
    all.swap(in_);
    return all;
}

qint64 SerialChannel::bytesWaiting() const {
    pull();
    return in_.size();
}

qint64 SerialChannel::bytesToWrite() const {
    return serial_ ? serial_->bytesToWrite() : 0;
}

void SerialChannel::discardInput() {
    if (!serial_)
        return;
    serial_->clear(QSerialPort::Input);
    serial_->readAll();
    in_.clear();
    carry_.clear();
}

void SerialChannel::discardOutput() {
    if (serial_)
        serial_->clear(QSerialPort::Output);
}

void SerialChannel::onReadyRead() {
    if (receiveThreshold() >= 1 && bytesWaiting() > 0)
        emit received();
}

void SerialChannel::onError(QSerialPort::SerialPortError error) {
    if (!serial_)
        return;
    // A device that went away shows as a resource or read error and ends the
    // channel. A write that could not proceed this time is not fatal: what
    // was not taken stays queued.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    const QString reason = QStringLiteral("%1: %2.").arg(
        heldWhere_, describeSerialError(error, serial_->errorString()));
    release(false);
    emit lost(reason);
}

} // namespace rava
