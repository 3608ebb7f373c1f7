#include "packet_framer.h"

#include "link/channel.h"
#include "link/line_settings.h"
#include "link/one_shot.h"

namespace rava::linktest {

namespace {
int ceilMs(qint64 ns) {
    return int(qMax<qint64>(1, (ns + 999999) / 1000000));
}
} // namespace

PacketFramer::PacketFramer(Channel& channel, qint64 gapNs, QObject* parent)
    : QObject(parent), channel_(&channel),
      silence_(new OneShot(QStringLiteral("packet gap"), ceilMs(gapNs), this)), gapNs_(gapNs) {
    connect(silence_, &OneShot::fired, this, &PacketFramer::onTick);
    connect(&channel, &Channel::received, this, &PacketFramer::onReceived);
}

PacketFramer::~PacketFramer() {
    stop();
}

void PacketFramer::start() {
    if (listening_ || !channel_)
        return;
    channel_->discardInput();
    thresholdBefore_ = channel_->receiveThreshold();
    channel_->setReceiveThreshold(1);
    buffer_.clear();
    listening_ = true;
}

void PacketFramer::stop() {
    if (!listening_)
        return;
    listening_ = false;
    silence_->stop();
    buffer_.clear();
    if (channel_)
        channel_->setReceiveThreshold(thresholdBefore_);
}

void PacketFramer::onReceived() {
    if (!listening_ || !channel_)
        return;
    const QByteArray bytes = channel_->readAll();
    if (bytes.isEmpty())
        return;
    lastByteNs_ = monotonicNs();
    buffer_.append(bytes);
    if (buffer_.size() >= kMaxPacket || (whole_ && whole_(buffer_))) {
        emitPacket();
        return;
    }
    silence_->setInterval(ceilMs(gapNs_));
    silence_->start();
}

void PacketFramer::onTick() {
    if (!listening_ || buffer_.isEmpty())
        return;
    const qint64 quietFor = monotonicNs() - lastByteNs_;
    if (quietFor < gapNs_) {
        silence_->setInterval(ceilMs(gapNs_ - quietFor));
        silence_->start();
        return;
    }
    emitPacket();
}

void PacketFramer::emitPacket() {
    silence_->stop();
    const QByteArray bytes = std::exchange(buffer_, QByteArray());
    emit packet(bytes, lastByteNs_);
}

} // namespace rava::linktest
