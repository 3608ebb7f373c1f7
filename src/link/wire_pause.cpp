#include "wire_pause.h"

#include "channel.h"
#include "line_settings.h"
#include "one_shot.h"

namespace rava {

WirePause::WirePause(const QString& timerName, QObject* parent)
    : QObject(parent), timer_(new OneShot(timerName, 0, this)) {
    connect(timer_, &OneShot::fired, this, &WirePause::check);
}

void WirePause::start(Channel& channel, int ms) {
    channel_ = &channel;
    startNs_ = monotonicNs();
    askedNs_ = qint64(qMax(0, ms)) * 1000000;
    unsent_ = -1;
    progressNs_ = startNs_;
    timer_->setInterval(qMax(0, ms));
    timer_->start();
}

void WirePause::stop() {
    timer_->stop();
    channel_ = nullptr;
}

bool WirePause::isActive() const {
    return timer_->isActive();
}

void WirePause::check() {
    if (!channel_) {
        emit over();
        return;
    }
    const qint64 now = monotonicNs();
    // The asked length counts from when the bytes reached the driver; a
    // channel that cannot tell counts it from the write itself.
    const qint64 from = qMax(startNs_, channel_->handedToDriverAtNs());
    const qint64 left = qMax(from + askedNs_ - now, channel_->nsUntilLineQuiet());
    if (left <= 0) {
        channel_ = nullptr;
        emit over();
        return;
    }
    const qint64 unsent = channel_->bytesUnsent();
    if (unsent != unsent_) {
        unsent_ = unsent;
        progressNs_ = now;
    } else if (unsent > 0 && now - progressNs_ >= qint64(stallMs_) * 1000000) {
        channel_ = nullptr;
        emit stalled(unsent);
        return;
    }
    // Whole milliseconds, rounded up: a precise timer is never early, so the
    // next look finds the pause over unless the line has fallen behind.
    timer_->setInterval(int(qMin<qint64>((left + 999999) / 1000000, 1000)));
    timer_->start();
}

} // namespace rava
