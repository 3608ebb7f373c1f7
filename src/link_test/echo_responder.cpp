#include "echo_responder.h"

#include "link/channel.h"
#include "link/wire_pause.h"
#include "packet_framer.h"

namespace rava::linktest {

EchoResponder::EchoResponder(Channel& channel, qint64 gapNs, bool addressed, QObject* parent)
    : QObject(parent), channel_(&channel), framer_(new PacketFramer(channel, gapNs, this)),
      pause_(new WirePause(QStringLiteral("echo pause"), this)), addressed_(addressed) {
    framer_->setWholeCheck([a = addressed](const QByteArray& b) { return isWholePacket(b, a); });
    connect(framer_, &PacketFramer::packet, this,
            [this](const QByteArray& bytes, qint64) { onPacket(bytes); });
    connect(pause_, &WirePause::over, this, &EchoResponder::writeNext);
    connect(pause_, &WirePause::stalled, this, [this](qint64) {
        stop();
        emit failed(QString());
    });
    connect(&channel, &Channel::lost, this, &EchoResponder::onLost);
}

EchoResponder::~EchoResponder() {
    stop();
}

bool EchoResponder::start(QString* error) {
    if (running_ || !channel_)
        return false;
    if (!channel_->isOpen() && !channel_->open(error))
        return false;
    running_ = true;
    framer_->start();
    return true;
}

void EchoResponder::stop() {
    if (!running_)
        return;
    running_ = false;
    framer_->stop();
    pause_->stop();
    queue_.clear();
    if (channel_)
        channel_->close();
}

void EchoResponder::onPacket(const QByteArray& bytes) {
    if (!running_)
        return;
    ++packets_;
    bytes_ += bytes.size();
    const QByteArray head = addressed_ ? bytes.left(1) : QByteArray();
    const Packet p = parsePacket(addressed_ ? bytes.mid(1) : bytes);
    QByteArray answer = bytes;
    switch (p.kind) {
    case Packet::Kind::Probe:
        if (p.run != run_) {
            run_ = p.run;
            counts_ = EchoCounts();
            seen_.clear();
        }
        if (seen_.contains(p.seq)) {
            ++counts_.duplicated;
        } else {
            seen_.insert(p.seq);
            ++counts_.received;
        }
        break;
    case Packet::Kind::Damaged:
        ++counts_.damaged;
        break;
    case Packet::Kind::StatsRequest:
        answer = head + makeStatsAnswer(p.run, p.run == run_ ? counts_ : EchoCounts());
        break;
    case Packet::Kind::StatsAnswer:
        break;
    }
    queue_.append(answer);
    if (!pause_->isActive())
        writeNext();
}

void EchoResponder::writeNext() {
    if (!running_ || queue_.isEmpty() || !channel_)
        return;
    const QByteArray next = queue_.takeFirst();
    if (!channel_->write(next)) {
        stop();
        emit failed(QString());
        return;
    }
    emit echoed(next);
    pause_->start(*channel_, 0);
}

void EchoResponder::onLost(const QString& reason) {
    if (!running_)
        return;
    stop();
    emit failed(reason.isEmpty() ? QStringLiteral("lost") : reason);
}

} // namespace rava::linktest
