#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace rava {

// What a feature may do with its serial channel. The real implementation is
// SerialChannel; tests use an in-memory one.
class Channel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Channel() override = default;

    // Claims the port and starts delivering input. On failure returns false
    // and, when `error` is given, a sentence naming the port and the reason.
    virtual bool open(QString* error = nullptr) = 0;
    // Releases the port. Bytes already handed to write() still go out.
    virtual void close() = 0;
    // Releases the port at once, dropping what the driver has not taken:
    // for a line that stopped taking bytes, whose rest was reported unsent.
    virtual void abandon() { close(); }
    virtual bool isOpen() const = 0;

    // Queues all of `bytes` as one write (one packet for the module).
    // Returns false, writing nothing, when the channel is not open.
    virtual bool write(const QByteArray& bytes) = 0;
    // Returns and removes everything waiting; empty when nothing waits.
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesWaiting() const = 0;
    virtual void discardInput() = 0;
    // Drops output this channel queued and the driver has not yet taken.
    // Never what an earlier operation on the same device left to drain.
    virtual void discardOutput() = 0;

    // The line's own progress, for writers that must leave silence between
    // packets. Nanoseconds from now until every byte handed to write() has
    // left the line and the line has then been silent for a module's packet
    // gap; 0 when it already has.
    virtual qint64 nsUntilLineQuiet() const { return 0; }
    // Bytes handed to write() that have not yet left the line, as far as the
    // channel can tell.
    virtual qint64 bytesUnsent() const { return 0; }
    // The moment (monotonic nanoseconds) the last byte handed to write()
    // reached the driver; 0 when the channel cannot tell (then the moment
    // of the write() call stands for it).
    virtual qint64 handedToDriverAtNs() const { return 0; }

    // The COM entry and the device this channel holds while open, or held
    // when it was last open ("COM 1 (/dev/ttyS0)"): what a message names
    // when the device goes away. Empty when the channel names no device.
    virtual QString deviceName() const { return QString(); }

    // What the user calls this channel in messages ("the text channel").
    QString description() const { return description_; }
    void setDescription(const QString& description) { description_ = description; }

    // 0: no receive events; 1: received() whenever input waits.
    void setReceiveThreshold(int threshold) { threshold_ = threshold; }
    int receiveThreshold() const { return threshold_; }

    // All waiting input as text: one character per byte, code = byte value.
    QString readAllText() { return QString::fromLatin1(readAll()); }

signals:
    // Raised only while open, with a threshold of 1 and input waiting.
    void received();
    // The device went away or failed while open; the channel is now closed.
    // deviceName() still names the device that was lost.
    void lost(const QString& reason);

private:
    QString description_;
    int threshold_ = 0;
};

} // namespace rava
