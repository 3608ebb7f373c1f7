#pragma once

#include "line_settings.h"

#include <QObject>

namespace rava {

enum class Mode { Master, Slave };

// What the user chose on the "Set up" tab: the operating mode, the remote
// address, the port and the line setting, with the timings that follow from
// the line setting. Features read these at the moment of use; the Set up
// controls are the only writers. Each setter emits its signal only when the
// value really changes.
class StationSettings : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    Mode mode() const { return mode_; }
    bool isMaster() const { return mode_ == Mode::Master; }
    void setMode(Mode mode);

    // One unsigned byte, 0 at start.
    int remoteAddress() const { return remoteAddress_; }
    // Values outside 0..255 are refused (nothing changes).
    void setRemoteAddress(int address);

    // Port 1..4 ("COM 1".."COM 4"); other values are refused.
    int port() const { return port_; }
    void setPort(int port);

    // Index into kLineSettings; -1 until one is chosen. Other values are
    // refused.
    int lineSetting() const { return lineSetting_; }
    void setLineSetting(int index);
    // The line parameters of the chosen line setting; none until one is
    // chosen.
    std::optional<LineParams> lineParams() const;
    // Pause after each text line, after the image header and each full
    // block, and before the last image block; 0 until a line setting is
    // chosen.
    int pacingMs() const;
    int blockGapMs() const;
    int lastBlockDelayMs() const;

signals:
    void modeChanged(rava::Mode mode);
    void remoteAddressChanged(int address);
    void portChanged(int port);
    void lineSettingChanged(int index);

private:
    const LineSetting* row() const;

    Mode mode_ = Mode::Master;
    int remoteAddress_ = 0;
    int port_ = 1;
    int lineSetting_ = -1;
};

} // namespace rava
