#include "station_link.h"

namespace rava {

StationLink::StationLink(QObject* parent)
    : QObject(parent), text_(QStringLiteral("MSComm1"), 1024, 512, 0, this),
      image_(QStringLiteral("MSComm2"), 4096, 4096, 1, this),
      polling_(QStringLiteral("MSComm3"), 1024, 512, 1, this),
      programming_(QStringLiteral("MSComm4"), 1024, 512, 1, this) {}

void StationLink::choosePort(int index) {
    if (index < 0 || index > 3)
        return;
    text_.setPort(index + 1);
    image_.setPort(index + 1);
    polling_.setPort(index + 1);
}

void StationLink::chooseLineSetting(int index) {
    if (index < 0 || index >= int(kLineSettings.size()))
        return;
    const LineSetting& row = kLineSettings[size_t(index)];
    const QString settings = QString::fromLatin1(row.settings);
    text_.setSettings(settings);
    image_.setSettings(settings);
    polling_.setSettings(settings);
    programming_.setSettings(settings);
    lineSetting_ = index;
    pacingMs_ = row.pacingMs;
    blockGapMs_ = row.blockGapMs;
    lastBlockDelayMs_ = row.lastBlockDelayMs;
    emit lineSettingChanged(index);
}

} // namespace rava
