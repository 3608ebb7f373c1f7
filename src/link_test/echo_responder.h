#pragma once

#include "probe.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

namespace rava {
class Channel;
class WirePause;
} // namespace rava

namespace rava::linktest {

class PacketFramer;

// The far end of a link test: every packet that arrives goes back as it
// came, cut at the module's packet gap. Packets that arrive while an answer
// is still on the line wait their turn behind a wire pause, so answers never
// run together. On a master every packet starts with the sender's address
// (`addressed`), which is just where an answer to it must go.
//
// The echo reads the probes it sends back: it counts good ones, damaged
// ones and repeats of the latest run, and answers a stats request of that
// run with the counts instead of echoing it.
class EchoResponder : public QObject {
    Q_OBJECT
public:
    EchoResponder(Channel& channel, qint64 gapNs, bool addressed, QObject* parent = nullptr);
    ~EchoResponder() override;

    // Opens the channel and answers from now on; false with `error` when
    // the channel cannot be opened.
    bool start(QString* error);
    void stop();
    bool isRunning() const { return running_; }

    qint64 packets() const { return packets_; }
    qint64 bytes() const { return bytes_; }
    EchoCounts counts() const { return counts_; }
    quint32 run() const { return run_; }

signals:
    void echoed(const QByteArray& packet);
    // The device went away (reason), or a write was refused (empty).
    void failed(const QString& reason);

private:
    void onPacket(const QByteArray& bytes);
    void writeNext();
    void onLost(const QString& reason);

    QPointer<Channel> channel_;
    PacketFramer* framer_;
    WirePause* pause_;
    bool addressed_;
    bool running_ = false;
    QList<QByteArray> queue_;
    qint64 packets_ = 0;
    qint64 bytes_ = 0;
    quint32 run_ = 0;
    EchoCounts counts_;
    QSet<quint32> seen_;
};

} // namespace rava::linktest
