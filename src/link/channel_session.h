#pragma once

#include "channel.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace rava {

// Why a channel could not be used, in the words the user sees.
struct ChannelFailure {
    enum class Kind {
        OpenFailed, // the channel could not be opened
        Lost,       // the device went away while it was held
    };
    Kind kind = Kind::OpenFailed;
    // OpenFailed: the channel's own sentence naming the COM entry, the
    // device and the cure. Lost: "COM 1 (/dev/ttyS0) is no longer
    // available"; the page adds what stopped.
    QString message;
};

// What an operation needs of a channel while it holds it.
struct ChannelClaim {
    // The receive threshold while held: 1 to hear of every byte, 0 for none.
    int threshold = 0;
    // Throw away input that waited from before the operation.
    bool discardInput = false;
    // Drop output this channel queued earlier and the driver has not taken.
    bool discardOutput = false;

    // A reader: hears of every byte, none of what waited from before.
    static ChannelClaim reading() { return {1, true, false}; }
    // A writer: no receive events; starts with no output of its own queued.
    static ChannelClaim writing() { return {0, false, true}; }
};

// An operation's hold on a channel, from opening to closing: the one place
// where a channel is opened, its receive threshold claimed and given back,
// and closed. While held it passes the channel's input events on and turns
// a lost device into a ChannelFailure; released, it hears nothing of the
// channel. Destroying a held session closes the channel, letting the bytes
// still queued leave first.
class ChannelSession : public QObject {
    Q_OBJECT
public:
    explicit ChannelSession(Channel& channel, QObject* parent = nullptr);
    ~ChannelSession() override;

    // Opens the channel with `claim`. false, with `failure` filled, when it
    // cannot be opened; then nothing is held. Opening a held session only
    // applies the claim's discards.
    bool open(const ChannelClaim& claim, ChannelFailure* failure = nullptr);
    // Lets go: the threshold goes back to what it was, and the channel
    // closes once the bytes still queued have left. Nothing when not held.
    void close();
    // Lets go at once, dropping what the driver has not taken: for a line
    // that stopped taking bytes, whose rest was reported as not sent.
    void abandon();

    bool isHeld() const { return held_; }
    // Held and the channel still open.
    bool isOpen() const;

    // The channel itself (for a WirePause and the words of messages); null
    // once the channel is gone.
    Channel* channel() const { return channel_; }

    // Each false / empty when not held.
    bool write(const QByteArray& bytes);
    QByteArray readAll();
    void discardInput();

signals:
    // Input waits (only while held, with a threshold of 1).
    void received();
    // The device went away while held; the session is released already.
    void failed(const rava::ChannelFailure& failure);

private:
    void onReceived();
    void onLost();
    void release(bool drain);

    QPointer<Channel> channel_;
    bool held_ = false;
    int thresholdBefore_ = 0;
};

} // namespace rava
