#pragma once

#include "serial_channel.h"
#include "station_settings.h"

#include <QObject>

namespace rava {

// The four serial channels of a station. They follow the station settings:
// the chosen port for the text, image and polling channels (the programming
// channel always stays on port 1) and the chosen line setting for all four.
class StationLink : public QObject {
    Q_OBJECT
public:
    explicit StationLink(StationSettings& settings, QObject* parent = nullptr);

    StationSettings& settings() { return settings_; }

    SerialChannel& textChannel() { return text_; }
    SerialChannel& imageChannel() { return image_; }
    SerialChannel& pollingChannel() { return polling_; }
    SerialChannel& programmingChannel() { return programming_; }

private:
    void applyPort(int port);
    void applyLineSetting();

    StationSettings& settings_;
    SerialChannel text_;
    SerialChannel image_;
    SerialChannel polling_;
    SerialChannel programming_;
};

} // namespace rava
