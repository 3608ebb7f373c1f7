#include "line_settings.h"

#include <QStringList>
#include <chrono>

namespace rava {

namespace {
// Every entry has 8 data bits and 1 stop bit.
constexpr LineParams eightOne(qint32 baud, QSerialPort::Parity parity) {
    return {baud, parity, QSerialPort::Data8, QSerialPort::OneStop};
}
} // namespace

// The texts are shown exactly as users of earlier versions know them,
// including the two entries with a full stop.
const std::array<LineSetting, 12> kLineSettings = {{
    {"9600,none,8,1", eightOne(9600, QSerialPort::NoParity), 90, 35, 90},
    {"9600,odd,8,1", eightOne(9600, QSerialPort::OddParity), 90, 35, 90},
    {"9600.even,8,1", eightOne(9600, QSerialPort::EvenParity), 90, 35, 90},
    {"19200,none,8,1", eightOne(19200, QSerialPort::NoParity), 50, 30, 40},
    {"19200.odd,8,1", eightOne(19200, QSerialPort::OddParity), 50, 30, 40},
    {"19200,even,8,1", eightOne(19200, QSerialPort::EvenParity), 50, 30, 40},
    {"57600,none,8,1", eightOne(57600, QSerialPort::NoParity), 50, 25, 30},
    {"57600,odd,8,1", eightOne(57600, QSerialPort::OddParity), 50, 25, 30},
    {"57600,even,8,1", eightOne(57600, QSerialPort::EvenParity), 50, 25, 30},
    {"115200,none,8,1", eightOne(115200, QSerialPort::NoParity), 50, 20, 30},
    {"115200,odd,8,1", eightOne(115200, QSerialPort::OddParity), 50, 20, 30},
    {"115200,even,8,1", eightOne(115200, QSerialPort::EvenParity), 50, 20, 30},
}};

const std::array<const char*, 4> kPortNames = {{"COM 1", "COM 2", "COM 3", "COM 4"}};

QString settingsText(const LineParams& params) {
    const char parity = params.parity == QSerialPort::OddParity     ? 'o'
                        : params.parity == QSerialPort::EvenParity  ? 'e'
                        : params.parity == QSerialPort::MarkParity  ? 'm'
                        : params.parity == QSerialPort::SpaceParity ? 's'
                                                                    : 'n';
    const QString stop = params.stopBits == QSerialPort::TwoStop          ? QStringLiteral("2")
                         : params.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                          : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(params.baud)
        .arg(QLatin1Char(parity))
        .arg(int(params.dataBits))
        .arg(stop);
}

std::optional<LineParams> parseSettings(const QString& settings) {
    const QStringList parts = settings.trimmed().split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    LineParams p;
    bool ok = false;
    p.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || p.baud <= 0)
        return std::nullopt;
    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        p.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("o"))
        p.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("e"))
        p.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("m"))
        p.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("s"))
        p.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;
    switch (parts[2].trimmed().toInt(&ok)) {
    case 5:
        p.dataBits = QSerialPort::Data5;
        break;
    case 6:
        p.dataBits = QSerialPort::Data6;
        break;
    case 7:
        p.dataBits = QSerialPort::Data7;
        break;
    case 8:
        p.dataBits = QSerialPort::Data8;
        break;
    default:
        return std::nullopt;
    }
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        p.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        p.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        p.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return p;
}

qint64 characterNs(const LineParams& params) {
    // Ten half-bits for 1.5 stop bits: count in half bits.
    qint64 halfBits = 2 * (1 + int(params.dataBits));
    if (params.parity != QSerialPort::NoParity)
        halfBits += 2;
    halfBits += params.stopBits == QSerialPort::TwoStop          ? 4
                : params.stopBits == QSerialPort::OneAndHalfStop ? 3
                                                                 : 2;
    const qint64 baud = params.baud > 0 ? params.baud : 9600;
    return (halfBits * 1000000000LL / 2 + baud - 1) / baud;
}

qint64 packetGapNs(const LineParams& params) {
    return qMax<qint64>(characterNs(params) * 7 / 2, 2000000);
}

qint64 monotonicNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace rava
