#pragma once

#include "probe.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <optional>

namespace rava {
class Channel;
class OneShot;
class WirePause;
} // namespace rava

namespace rava::linktest {

class PacketFramer;

struct LinkTestConfig {
    int count = 100;
    int size = 32;          // bytes of each probe, its check included
    int intervalMs = 0;     // 0: the next probe once the last is back or lost
    int timeoutMs = 1000;   // a probe not back by then is lost
    QByteArray prefix;      // before every packet: the remote address on a master
    bool addressed = false; // packets that come start with the sender's address
    quint32 run = 1;        // tells this run's probes from an earlier run's
};

struct LinkTestResult {
    int sent = 0;
    int received = 0;   // probes back and good, each once
    int duplicated = 0; // good probes back a second time
    int damaged = 0;    // packets back that failed their check
    int late = 0;       // good probes back after their timeout (counted lost)
    int lost() const { return sent - received; }
    QList<double> rttMs;            // sorted
    double seconds = 0;             // from the first probe to the last answer or timeout
    std::optional<EchoCounts> echo; // what the far end counted, when it told
};

// The master's side of a link test: numbered probes, each a packet of its
// own with its own check, sent to the echo station; every packet that comes
// back is read and counted. A round trip runs from the moment the probe
// reached the driver to the arrival of the last byte of its answer. Between
// writes a wire pause keeps each probe a packet of its own; with an interval
// the probes go out at that pace whatever comes back. Without one each goes
// once the last is back, or once the last has been out for longer than a
// round trip is expected to take (the smoothed round trip plus four times
// its variation, as TCP reckons it, at most the timeout): a lost probe then
// costs about one round trip, not a whole timeout, while it still counts as
// lost only when its own timeout passes. Once all probes are resolved the tester
// asks the echo for its own counts (five tries), then finishes.
class LinkTester : public QObject {
    Q_OBJECT
public:
    static constexpr int kStatsTries = 5;

    LinkTester(Channel& channel, qint64 gapNs, const LinkTestConfig& config,
               QObject* parent = nullptr);
    ~LinkTester() override;

    // Opens the channel and sends the first probe; false with `error` when
    // the channel cannot be opened.
    bool start(QString* error);
    // Ends at once (interrupted): the result holds what was counted.
    void stop();
    bool isRunning() const { return running_; }
    LinkTestResult result() const;

signals:
    void progress(int sent, int received);
    void finished();
    // The device went away (reason), a write was refused or the line took
    // nothing (empty); the test stopped.
    void failed(const QString& reason);

private:
    void sendProbe();
    void maybeSendNext();
    void onPacket(const QByteArray& bytes, qint64 lastByteNs);
    void onDeadline();
    void armDeadline();
    void askStats();
    int spacingMs() const;
    void finish();
    void fail(const QString& reason);
    bool write(const QByteArray& bytes);

    QPointer<Channel> channel_;
    LinkTestConfig config_;
    PacketFramer* framer_;
    WirePause* pause_;
    OneShot* deadline_;
    OneShot* statsWait_;
    OneShot* spacing_; // without an interval: how long to wait for the last probe
    bool spacingOver_ = true;
    double srttMs_ = -1; // smoothed round trip; -1 before the first
    double rttVarMs_ = 0;
    bool running_ = false;
    bool pauseOver_ = true;
    bool askingStats_ = false;
    int statsTries_ = 0;
    QHash<quint32, qint64> outstanding_; // seq -> when it was handed over
    QSet<quint32> answered_;
    QSet<quint32> timedOut_;
    quint32 lastSeq_ = 0;
    LinkTestResult result_;
    qint64 firstNs_ = 0;
    qint64 lastNs_ = 0;
};

} // namespace rava::linktest
