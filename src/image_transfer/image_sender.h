#pragma once

#include "image_stream.h"
#include "image_timings.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <optional>

namespace rava {
class Channel;
class ChannelSession;
struct ChannelFailure;
class StationSettings;
class WirePause;
} // namespace rava

namespace rava::image {

// Why a send did not start or stopped early.
enum class SendFailure {
    EmptyFile,      // the file holds no byte: there is nothing to send
    TooLarge,       // the file is larger than any receiver accepts
    FileUnreadable, // the file could not be opened (detail: the reason)
    OpenFailed,     // the image channel could not be opened (detail: the reason)
    ReadFailed,     // reading the file failed during the send (detail: the reason)
    WriteFailed,    // the channel refused a write
    ChannelLost,    // the device went away during the send (detail: "COM 1 (...) is no
                    // longer available")
    NotSent,        // the line stopped taking bytes (detail: how many did not leave)
};

// Sends a file as an image over the image channel: the header, then the
// file in 90-byte blocks, with the block gap after the header and after
// each full block and the last-block delay before the last block.
//
// Every wait is a state of its own, a pause on the wire (WirePause) started
// the moment the write before it was handed to the channel: it lasts the
// block gap or last-block delay counted from when the bytes reached the
// driver and, on a line too slow for that, until the write has left the line
// and the line has fallen silent for a module's packet gap, so that every
// write stays a packet of its own. Nothing waits in a loop: the window keeps
// running meanwhile. The mode and remote address are taken when the send
// starts, the timings at every wait. After the last block the send waits
// until every byte has left the line, then closes the file and the channel
// and reports success; a line that stops taking bytes ends it with NotSent.
class ImageSender : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        BlockGap,       // after the header or a full block
        LastBlockDelay, // before the last block
        Draining,       // the last block was handed over; waiting for the line
    };
    ImageSender(Channel& channel, const StationSettings& settings, QObject* parent = nullptr);
    ImageSender(Channel& channel, const StationSettings& settings, const Timings& timings,
                QObject* parent = nullptr);
    ~ImageSender() override;

    State state() const { return state_; }
    bool isBusy() const { return state_ != State::Idle; }
    qint64 sentCount() const { return sent_; }
    qint64 fileSize() const { return size_; }

    // The pause between writes (its stall limit names the stall in messages).
    WirePause& pause() { return *wait_; }

    // Opens the file and the channel and writes the header. Returns false
    // when nothing was started (failed() tells why, and the file and the
    // channel are closed again). Once started, finished() follows.
    bool send(const QString& path);

signals:
    // true: the send holds the image channel; false: it is over.
    void busyChanged(bool busy);
    // The header was written for a file of `size` bytes.
    void started(qint64 size);
    // `sent` data bytes of the file have been handed to the channel.
    void progress(qint64 sent);
    void failed(rava::image::SendFailure failure, const QString& detail);
    // The send is over; `ok` is false when it stopped on a failure.
    void finished(bool ok);

private:
    void onWaitOver();
    void onStalled(qint64 unsent);
    void arm(State state, int ms);
    // Writes the next `bytes` of the file as a block, then waits `ms` in `next`.
    void writeBlock(qint64 bytes, State next, int ms);
    int blockGapMs() const;
    int lastBlockDelayMs() const;
    void finish(bool ok, SendFailure failure = SendFailure::WriteFailed,
                const QString& detail = QString());
    void onLost(const ChannelFailure& failure);

    ChannelSession* session_;
    const StationSettings& settings_;
    WirePause* wait_;
    Timings timings_;
    State state_ = State::Idle;
    QFile file_;
    bool master_ = false;
    int address_ = 0;
    qint64 size_ = 0;
    qint64 sent_ = 0;
};

} // namespace rava::image
