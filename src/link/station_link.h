#pragma once

#include "line_settings.h"
#include "serial_channel.h"

#include <QObject>

namespace rava {

// The four serial channels of a station and the port and line setting the
// user chose for them, with the timings that follow from the line setting.
class StationLink : public QObject {
    Q_OBJECT
public:
    explicit StationLink(QObject* parent = nullptr);

    SerialChannel& textChannel() { return text_; }
    SerialChannel& imageChannel() { return image_; }
    SerialChannel& pollingChannel() { return polling_; }
    SerialChannel& programmingChannel() { return programming_; }

    // Port list entry i (0..3) chosen: port i + 1 for the text, image and
    // polling channels. The programming channel always stays on port 1.
    void choosePort(int index);
    // Line-setting entry k (0..11) chosen: its settings string for all four
    // channels and its timings. Any other index changes nothing.
    void chooseLineSetting(int index);

    int lineSetting() const { return lineSetting_; }
    int pacingMs() const { return pacingMs_; }
    int blockGapMs() const { return blockGapMs_; }
    qint32 lastBlockDelayMs() const { return lastBlockDelayMs_; }

signals:
    void lineSettingChanged(int index);

private:
    SerialChannel text_;
    SerialChannel image_;
    SerialChannel polling_;
    SerialChannel programming_;
    int lineSetting_ = -1;
    int pacingMs_ = 0;
    int blockGapMs_ = 0;
    qint32 lastBlockDelayMs_ = 0;
};

} // namespace rava
