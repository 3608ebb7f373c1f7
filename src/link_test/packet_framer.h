#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <functional>

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::linktest {

// Cuts packets out of a channel's input as a module does: a packet ends when
// the line has been silent for the packet gap (3.5 characters at the line's
// speed, at least 2 ms). Each packet comes with the moment its last byte
// arrived, so that a round trip measures the link and not the gap.
//
// The bytes of one packet reach the station in pieces, as the driver (and a
// USB adapter's latency timer, or the simulator's pacing) hands them on: the
// silence must also outlast that jitter, kHostJitterNs beyond the module's
// gap.
//
// That costs a round trip nothing where the reader knows its packets: one it
// recognises as whole is cut at once.
//
// The silence is a state with its own precise one-shot timer: every batch
// of input restarts it, and a tick that comes before the gap has passed
// since the last byte arms it again for the rest.
class PacketFramer : public QObject {
    Q_OBJECT
public:
    // Past this many bytes without a silence the input is cut into a packet
    // anyway: no probe is that long.
    static constexpr qsizetype kMaxPacket = 64 * 1024;
    static constexpr qint64 kHostJitterNs = 10000000;

    // The silence that ends a packet on the station's side of a line whose
    // module cuts packets at `modulePacketGapNs`.
    static qint64 hostGapNs(qint64 modulePacketGapNs) { return modulePacketGapNs + kHostJitterNs; }

    PacketFramer(Channel& channel, qint64 gapNs, QObject* parent = nullptr);
    ~PacketFramer() override;

    qint64 gapNs() const { return gapNs_; }
    // A packet the reader recognises as whole is cut at once, without
    // waiting for the silence: `whole` says whether the bytes so far are one.
    void setWholeCheck(std::function<bool(const QByteArray&)> whole) { whole_ = std::move(whole); }
    // Listens on the channel (which must be open); input waiting from before
    // is dropped.
    void start();
    // Stops listening; a packet under way is dropped.
    void stop();
    bool isListening() const { return listening_; }

signals:
    void packet(const QByteArray& bytes, qint64 lastByteNs);

private:
    void onReceived();
    void onTick();
    void emitPacket();

    QPointer<Channel> channel_;
    OneShot* silence_;
    qint64 gapNs_;
    bool listening_ = false;
    int thresholdBefore_ = 0;
    QByteArray buffer_;
    qint64 lastByteNs_ = 0;
    std::function<bool(const QByteArray&)> whole_;
};

} // namespace rava::linktest
