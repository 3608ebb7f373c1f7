#include "one_shot.h"

namespace rava {

OneShot::OneShot(const QString& name, int intervalMs, QObject* parent) : QObject(parent) {
    setObjectName(name);
    timer_.setSingleShot(true);
    // Pauses on the wire must never be shorter than asked for.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &OneShot::fired);
}

} // namespace rava
