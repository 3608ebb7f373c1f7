#include "station_settings.h"

namespace rava {

void StationSettings::setMode(Mode mode) {
    if (mode == mode_)
        return;
    mode_ = mode;
    emit modeChanged(mode);
}

void StationSettings::setRemoteAddress(int address) {
    if (address < 0 || address > 255 || address == remoteAddress_)
        return;
    remoteAddress_ = address;
    emit remoteAddressChanged(address);
}

void StationSettings::setPort(int port) {
    if (port < 1 || port > 4 || port == port_)
        return;
    port_ = port;
    emit portChanged(port);
}

void StationSettings::setLineSetting(int index) {
    if (index < 0 || index >= int(kLineSettings.size()) || index == lineSetting_)
        return;
    lineSetting_ = index;
    emit lineSettingChanged(index);
}

const LineSetting* StationSettings::row() const {
    return lineSetting_ < 0 ? nullptr : &kLineSettings[size_t(lineSetting_)];
}

std::optional<LineParams> StationSettings::lineParams() const {
    if (!row())
        return std::nullopt;
    return row()->params;
}

int StationSettings::pacingMs() const {
    return row() ? row()->pacingMs : 0;
}

int StationSettings::blockGapMs() const {
    return row() ? row()->blockGapMs : 0;
}

int StationSettings::lastBlockDelayMs() const {
    return row() ? row()->lastBlockDelayMs : 0;
}

} // namespace rava
