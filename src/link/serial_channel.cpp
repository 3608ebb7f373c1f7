#include "serial_channel.h"

#include "device_map.h"
#include "open_failure.h"
#include "wire_trace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace rava {

namespace {

// What this process knows of one device's line: how far the bytes handed to
// the driver have got, kept across closing and reopening the device so that
// the next operation on it waits for the previous one's bytes.
struct DeviceLine {
    qint64 queued = 0;     // bytes handed to the open QSerialPort in all
    qint64 reached = 0;    // of those, bytes the driver has taken
    qint64 freeAtNs = 0;   // when the driver's bytes will have left the line
    qint64 handedAtNs = 0; // when the last byte reached the driver
    // The line setting the bytes go out with. (Read back from the port, a
    // pseudo-terminal would say "no parity" whatever was set.)
    LineParams params;
};

// Which channel of this process holds which device, which devices are still
// sending what a closed channel had queued, and each device's line.
struct PortRegistry {
    QHash<QString, QString> holders;
    QHash<QString, QSerialPort*> draining;
    QHash<QString, DeviceLine> lines;
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

// Bytes the driver still holds for the line. A UART's driver tells; a
// pseudo-terminal passes bytes on at once and says 0.
qint64 driverQueue(QSerialPort* port) {
#ifdef Q_OS_UNIX
    int n = 0;
    if (port->isOpen() && ::ioctl(int(port->handle()), TIOCOUTQ, &n) == 0 && n > 0)
        return n;
#else
    Q_UNUSED(port);
#endif
    return 0;
}

// Brings the device's line up to date with what the driver has taken since
// the last look: each byte that reached it occupies the line for one
// character time after the bytes before it.
DeviceLine& syncLine(const QString& key, QSerialPort* port) {
    DeviceLine& line = registry().lines[key];
    const qint64 reached = line.queued - port->bytesToWrite();
    if (reached > line.reached) {
        const qint64 now = monotonicNs();
        line.freeAtNs =
            qMax(now, line.freeAtNs) + (reached - line.reached) * characterNs(line.params);
        line.reached = reached;
        if (port->bytesToWrite() == 0)
            line.handedAtNs = now;
    }
    return line;
}

// Silence left beyond a module's packet gap: the module's clock and ours
// may see the end of the last byte a little apart, and a silence a hair
// short of the gap would join two packets.
constexpr qint64 kSilenceMarginNs = 1000000;

// How long until the line of `key` has carried everything and then been
// silent for a packet gap: the larger of the driver's own queue and our
// reckoning from the line rate, plus what still waits in Qt's queue.
qint64 nsUntilQuiet(const QString& key, QSerialPort* port) {
    const DeviceLine& line = syncLine(key, port);
    const qint64 c = characterNs(line.params);
    const qint64 inDriver = driverQueue(port);
    const qint64 queued = port->bytesToWrite();
    // Negative while the line has been free for a while: the silence so far
    // counts towards the gap, but only once nothing waits to go out.
    qint64 busy = line.freeAtNs - monotonicNs();
    if (inDriver > 0 || queued > 0)
        busy = std::max({busy, inDriver * c, qint64(0)}) + queued * c;
    return qMax<qint64>(0, busy + packetGapNs(line.params) + kSilenceMarginNs);
}

qint64 unsentOn(const QString& key, QSerialPort* port) {
    const DeviceLine& line = syncLine(key, port);
    const qint64 c = characterNs(line.params);
    const qint64 onLine = qMax<qint64>(0, (line.freeAtNs - monotonicNs() + c - 1) / c);
    return port->bytesToWrite() + qMax(driverQueue(port), onLine);
}

constexpr const char* kDrainer = "rava-drainer";
// A drain that makes no progress for this long gives up.
constexpr qint64 kDrainStallNs = 10'000'000'000LL;

QString deviceKey(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

void finishDrain(const QString& key, QSerialPort* port) {
    PortRegistry& r = registry();
    if (r.draining.value(key) == port)
        r.draining.remove(key);
    QObject::disconnect(port, nullptr, nullptr, nullptr);
    port->close();
    port->deleteLater();
}

// Keeps `port` open until the bytes queued for it have reached the device
// and the device's own queue is empty, so that closing drops nothing and
// never waits in the driver. A line that makes no progress for ten seconds
// (a peer that stopped reading) is closed anyway, with a word on stderr.
void drainThenClose(const QString& key, QSerialPort* port) {
    port->setParent(QCoreApplication::instance());
    registry().draining.insert(key, port);
    // The drainer's connections and timer live and die with this object.
    auto* drainer = new QObject(port);
    drainer->setObjectName(QLatin1String(kDrainer));
    auto* check = new QTimer(drainer);
    check->setSingleShot(true);
    check->setTimerType(Qt::PreciseTimer);
    auto last = std::make_shared<std::pair<qint64, qint64>>(-1, monotonicNs());
    const auto step = [key, port, check, last] {
        const qint64 pending = port->bytesToWrite() + driverQueue(port);
        syncLine(key, port);
        if (pending == 0) {
            finishDrain(key, port);
            return;
        }
        const qint64 now = monotonicNs();
        if (pending != last->first) {
            *last = {pending, now};
        } else if (now - last->second > kDrainStallNs) {
            qWarning("rava2-demo: %s made no progress for 10 s; %lld bytes did not leave",
                     qPrintable(port->portName()), static_cast<long long>(pending));
            finishDrain(key, port);
            return;
        }
        const qint64 ns = pending * characterNs(registry().lines.value(key).params);
        check->start(int(std::clamp<qint64>(ns / 1000000, 2, 500)));
    };
    QObject::connect(check, &QTimer::timeout, drainer, step);
    QObject::connect(port, &QSerialPort::bytesWritten, drainer, step);
    QObject::connect(port, &QSerialPort::errorOccurred, drainer,
                     [key, port](QSerialPort::SerialPortError e) {
                         if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError)
                             finishDrain(key, port);
                     });
    step();
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

void SerialChannel::setLineParams(const LineParams& params) {
    params_ = params;
    if (serial_)
        applySettings();
}

void SerialChannel::applySettings() {
    if (!serial_)
        return;
    serial_->setBaudRate(params_.baud);
    serial_->setParity(params_.parity);
    serial_->setDataBits(params_.dataBits);
    serial_->setStopBits(params_.stopBits);
    serial_->setFlowControl(QSerialPort::NoFlowControl);
    syncLine(heldKey_, serial_).params = params_;
    markParity(params_);
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
        // Still sending what this device was last given: carry on with it,
        // the bytes of the earlier operation first.
        delete port->findChild<QObject*>(QLatin1String(kDrainer), Qt::FindDirectChildrenOnly);
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
        // A device that was let go had drained: its line starts afresh. (A
        // pseudo-terminal number may meanwhile name another terminal.)
        r.lines.insert(key, DeviceLine());
    }
    inherited_ = port->bytesToWrite() > 0 || driverQueue(port) > 0;
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
    connect(port, &QSerialPort::bytesWritten, this, [this] {
        if (serial_)
            syncLine(heldKey_, serial_);
    });
    connect(port, &QSerialPort::errorOccurred, this, &SerialChannel::onError);
    return true;
}

void SerialChannel::close() {
    release(true);
}

void SerialChannel::abandon() {
    release(false);
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
    if (drain && port->bytesToWrite() + driverQueue(port) > 0) {
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
    registry().lines[heldKey_].queued += bytes.size();
    if (WireTrace* trace = WireTrace::instance())
        trace->record(traceName_.isEmpty() ? objectName() : traceName_, "out", bytes);
    // Hand the bytes to the device now rather than on the next pass of the
    // event loop, so that a pause timed from here is a pause on the line.
    // Only when the device has room: a flush into a full device fails the
    // port, and what it cannot take yet stays queued anyway.
    if (deviceWritable(serial_))
        serial_->flush();
    syncLine(heldKey_, serial_);
    return true;
}

qint64 SerialChannel::nsUntilLineQuiet() const {
    return serial_ ? nsUntilQuiet(heldKey_, serial_) : 0;
}

qint64 SerialChannel::bytesUnsent() const {
    return serial_ ? unsentOn(heldKey_, serial_) : 0;
}

qint64 SerialChannel::handedToDriverAtNs() const {
    return serial_ ? syncLine(heldKey_, serial_).handedAtNs : 0;
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
    // Bytes an earlier operation left draining are not ours to drop.
    if (serial_ && !inherited_) {
        serial_->clear(QSerialPort::Output);
        DeviceLine& line = registry().lines[heldKey_];
        line.queued = line.reached;
    }
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
