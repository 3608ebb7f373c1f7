#pragma once

#include <QObject>
#include <QPointer>

namespace rava {

class Channel;
class OneShot;

// The pause after a write that separates it from the next one on the line.
// It lasts at least the asked length, counted from the moment the written
// bytes reached the driver, and in any case until they have left the line
// and the line has then been silent for a module's packet gap: a module
// cuts packets at such a silence, so two writes never merge into one packet
// however slow the line is. Where the line is fast enough for the asked
// length, the asked length alone decides.
//
// A state driven by its own precise one-shot timer: a tick that comes before
// the pause is over arms it again for the rest. When the bytes make no
// progress on the line for the stall limit (a device that takes nothing),
// the pause ends with stalled() instead.
class WirePause : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultStallMs = 10000;

    // `timerName` names the one-shot timer (Timer1, ...).
    explicit WirePause(const QString& timerName, QObject* parent = nullptr);

    // Starts the pause after a write to `channel`; `ms` is the asked length.
    void start(Channel& channel, int ms);
    void stop();
    bool isActive() const;

    void setStallMs(int ms) { stallMs_ = ms; }
    int stallMs() const { return stallMs_; }

signals:
    // The next write may be handed over.
    void over();
    // The line made no progress for the stall limit; `unsent` bytes of what
    // was handed over have not left.
    void stalled(qint64 unsent);

private:
    void check();

    OneShot* timer_;
    QPointer<Channel> channel_;
    qint64 startNs_ = 0;
    qint64 askedNs_ = 0;
    qint64 unsent_ = -1;
    qint64 progressNs_ = 0; // when the unsent count last changed
    int stallMs_ = kDefaultStallMs;
};

} // namespace rava
