#include "station_link.h"

namespace rava {

StationLink::StationLink(StationSettings& settings, QObject* parent)
    : QObject(parent), settings_(settings),
      text_(QStringLiteral("MSComm1"), QStringLiteral("the text channel"), 0, this),
      image_(QStringLiteral("MSComm2"), QStringLiteral("the image channel"), 1, this),
      polling_(QStringLiteral("MSComm3"), QStringLiteral("the polling channel"), 1, this),
      programming_(QStringLiteral("MSComm4"), QStringLiteral("the programming channel"), 1, this) {
    text_.setTraceName(QStringLiteral("text"));
    image_.setTraceName(QStringLiteral("image"));
    polling_.setTraceName(QStringLiteral("polling"));
    programming_.setTraceName(QStringLiteral("programming"));
    applyPort(settings.port());
    applyLineSetting();
    connect(&settings, &StationSettings::portChanged, this, &StationLink::applyPort);
    connect(&settings, &StationSettings::lineSettingChanged, this, &StationLink::applyLineSetting);
}

void StationLink::applyPort(int port) {
    text_.setPort(port);
    image_.setPort(port);
    polling_.setPort(port);
}

void StationLink::applyLineSetting() {
    const std::optional<LineParams> params = settings_.lineParams();
    if (!params)
        return;
    for (SerialChannel* channel : {&text_, &image_, &polling_, &programming_})
        channel->setLineParams(*params);
}

} // namespace rava
