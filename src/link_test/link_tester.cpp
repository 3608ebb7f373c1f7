#include "link_tester.h"

#include "link/channel.h"
#include "link/line_settings.h"
#include "link/one_shot.h"
#include "link/wire_pause.h"
#include "packet_framer.h"

#include <algorithm>
#include <cmath>

namespace rava::linktest {

LinkTester::LinkTester(Channel& channel, qint64 gapNs, const LinkTestConfig& config,
                       QObject* parent)
    : QObject(parent), channel_(&channel), config_(config),
      framer_(new PacketFramer(channel, gapNs, this)),
      pause_(new WirePause(QStringLiteral("probe pause"), this)),
      deadline_(new OneShot(QStringLiteral("probe timeout"), config.timeoutMs, this)),
      statsWait_(new OneShot(QStringLiteral("stats timeout"), config.timeoutMs, this)),
      spacing_(new OneShot(QStringLiteral("probe spacing"), config.timeoutMs, this)) {
    framer_->setWholeCheck(
        [a = config.addressed](const QByteArray& b) { return isWholePacket(b, a); });
    connect(framer_, &PacketFramer::packet, this, &LinkTester::onPacket);
    connect(pause_, &WirePause::over, this, [this] {
        pauseOver_ = true;
        maybeSendNext();
    });
    connect(pause_, &WirePause::stalled, this, [this](qint64) { fail(QString()); });
    connect(deadline_, &OneShot::fired, this, &LinkTester::onDeadline);
    connect(statsWait_, &OneShot::fired, this, &LinkTester::askStats);
    connect(spacing_, &OneShot::fired, this, [this] {
        spacingOver_ = true;
        maybeSendNext();
    });
    connect(&channel, &Channel::lost, this, [this](const QString& reason) {
        if (running_)
            fail(reason.isEmpty() ? QStringLiteral("lost") : reason);
    });
}

LinkTester::~LinkTester() {
    stop();
}

bool LinkTester::start(QString* error) {
    if (running_ || !channel_)
        return false;
    if (!channel_->isOpen() && !channel_->open(error))
        return false;
    running_ = true;
    result_ = LinkTestResult();
    framer_->start();
    firstNs_ = monotonicNs();
    sendProbe();
    return true;
}

void LinkTester::stop() {
    if (!running_)
        return;
    running_ = false;
    lastNs_ = monotonicNs();
    framer_->stop();
    pause_->stop();
    deadline_->stop();
    statsWait_->stop();
    spacing_->stop();
    if (channel_)
        channel_->close();
}

LinkTestResult LinkTester::result() const {
    LinkTestResult r = result_;
    std::sort(r.rttMs.begin(), r.rttMs.end());
    const qint64 end = running_ ? monotonicNs() : lastNs_;
    r.seconds = double(qMax<qint64>(0, end - firstNs_)) / 1e9;
    return r;
}

bool LinkTester::write(const QByteArray& bytes) {
    if (!channel_ || !channel_->write(bytes)) {
        fail(QString());
        return false;
    }
    pauseOver_ = false;
    pause_->start(*channel_, config_.intervalMs);
    return true;
}

void LinkTester::sendProbe() {
    const quint32 seq = quint32(result_.sent);
    if (!write(config_.prefix + makeProbe(config_.run, seq, config_.size)))
        return;
    outstanding_.insert(seq, monotonicNs());
    lastSeq_ = seq;
    ++result_.sent;
    if (config_.intervalMs == 0) {
        spacingOver_ = false;
        spacing_->setInterval(spacingMs());
        spacing_->start();
    }
    if (!deadline_->isActive())
        armDeadline();
    emit progress(result_.sent, result_.received);
}

void LinkTester::maybeSendNext() {
    if (!running_ || askingStats_ || !pauseOver_)
        return;
    if (result_.sent < config_.count) {
        if (config_.intervalMs > 0 || outstanding_.isEmpty() || spacingOver_)
            sendProbe();
        return;
    }
    if (outstanding_.isEmpty()) {
        lastNs_ = monotonicNs();
        askStats();
    }
}

void LinkTester::onPacket(const QByteArray& bytes, qint64 lastByteNs) {
    if (!running_)
        return;
    const Packet p = parsePacket(config_.addressed ? bytes.mid(1) : bytes);
    if (p.kind == Packet::Kind::Damaged || p.run != config_.run) {
        ++result_.damaged;
        return;
    }
    if (p.kind == Packet::Kind::StatsAnswer) {
        if (askingStats_) {
            result_.echo = p.counts;
            finish();
        }
        return;
    }
    if (p.kind != Packet::Kind::Probe)
        return;
    const auto it = outstanding_.find(p.seq);
    if (it != outstanding_.end()) {
        qint64 sentNs = it.value();
        // The moment the probe's bytes reached the driver, where the
        // channel can tell and the probe was the last write.
        if (p.seq == lastSeq_ && channel_ && channel_->handedToDriverAtNs() > sentNs)
            sentNs = channel_->handedToDriverAtNs();
        const double rtt = double(lastByteNs - sentNs) / 1e6;
        result_.rttMs.append(rtt);
        if (srttMs_ < 0) {
            srttMs_ = rtt;
            rttVarMs_ = rtt / 2;
        } else {
            rttVarMs_ = 0.75 * rttVarMs_ + 0.25 * std::abs(srttMs_ - rtt);
            srttMs_ = 0.875 * srttMs_ + 0.125 * rtt;
        }
        outstanding_.erase(it);
        answered_.insert(p.seq);
        ++result_.received;
        lastNs_ = lastByteNs;
        emit progress(result_.sent, result_.received);
        maybeSendNext();
    } else if (answered_.contains(p.seq)) {
        ++result_.duplicated;
    } else if (timedOut_.contains(p.seq)) {
        ++result_.late;
    } else {
        ++result_.damaged; // a number never sent
    }
}

int LinkTester::spacingMs() const {
    if (srttMs_ < 0)
        return config_.timeoutMs;
    const double ms = srttMs_ + qMax(4 * rttVarMs_, 5.0);
    return qBound(1, int(std::ceil(ms)), config_.timeoutMs);
}

void LinkTester::armDeadline() {
    if (outstanding_.isEmpty())
        return;
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (auto it = outstanding_.cbegin(); it != outstanding_.cend(); ++it)
        earliest = qMin(earliest, it.value());
    const qint64 left = earliest + qint64(config_.timeoutMs) * 1000000 - monotonicNs();
    deadline_->setInterval(int(qMax<qint64>(0, (left + 999999) / 1000000)));
    deadline_->start();
}

void LinkTester::onDeadline() {
    if (!running_)
        return;
    const qint64 now = monotonicNs();
    const qint64 limit = qint64(config_.timeoutMs) * 1000000;
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
        if (now - it.value() >= limit) {
            timedOut_.insert(it.key());
            it = outstanding_.erase(it);
        } else {
            ++it;
        }
    }
    armDeadline();
    maybeSendNext();
}

void LinkTester::askStats() {
    if (!running_)
        return;
    if (statsTries_ >= kStatsTries) {
        finish();
        return;
    }
    askingStats_ = true;
    ++statsTries_;
    if (!channel_ || !channel_->write(config_.prefix + makeStatsRequest(config_.run))) {
        fail(QString());
        return;
    }
    statsWait_->start();
}

void LinkTester::finish() {
    const qint64 last = lastNs_;
    stop();
    lastNs_ = last > 0 ? last : monotonicNs();
    emit finished();
}

void LinkTester::fail(const QString& reason) {
    stop();
    emit failed(reason);
}

} // namespace rava::linktest
