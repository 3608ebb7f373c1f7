#pragma once

#include <QString>
#include <QtSerialPort/QSerialPort>
#include <array>
#include <optional>

namespace rava {

// How the line runs: speed, parity, data and stop bits.
struct LineParams {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    bool operator==(const LineParams& o) const {
        return baud == o.baud && parity == o.parity && dataBits == o.dataBits &&
               stopBits == o.stopBits;
    }
};

// One entry of the line-setting list with the timings that follow from it.
struct LineSetting {
    const char* shown;    // text in the list, as the user sees it
    LineParams params;    // what the channels are set to
    int pacingMs;         // pause after each text line
    int blockGapMs;       // pause after the image header and each full block
    int lastBlockDelayMs; // pause before the last image block
};

extern const std::array<LineSetting, 12> kLineSettings;
constexpr int kDefaultLineSetting = 9; // "115200,none,8,1"

extern const std::array<const char*, 4> kPortNames; // "COM 1" .. "COM 4"

// The settings in their short text form, "115200,n,8,1": for showing and
// for the trace, and for naming a setting on a command line.
QString settingsText(const LineParams& params);
// Such a text taken apart; nothing for a text that is no valid setting.
std::optional<LineParams> parseSettings(const QString& settings);

// Time one character takes on the line: start bit, data bits, parity bit
// when there is one, stop bits.
qint64 characterNs(const LineParams& params);
// The silence that ends a packet for a module: 3.5 characters at the line's
// speed, and never less than 2 ms.
qint64 packetGapNs(const LineParams& params);

// The system's monotonic clock in nanoseconds (the clock of QElapsedTimer
// and of the wire trace).
qint64 monotonicNs();

} // namespace rava
