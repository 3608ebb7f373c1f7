#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace rava {

// How a channel hands out what it has received: as text (one Latin-1
// character per byte) or as raw bytes. Both give the same bytes; the mode
// only records which form the owning feature asked for.
enum class InputMode { Text, Binary };

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
    virtual bool isOpen() const = 0;

    // Queues all of `bytes` as one write (one packet for the module).
    // Returns false, writing nothing, when the channel is not open.
    virtual bool write(const QByteArray& bytes) = 0;
    // Returns and removes everything waiting; empty when nothing waits.
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesWaiting() const = 0;
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;

    // 0: no receive events; 1: received() whenever input waits.
    void setReceiveThreshold(int threshold) { threshold_ = threshold; }
    int receiveThreshold() const { return threshold_; }

    void setInputMode(InputMode mode) { inputMode_ = mode; }
    InputMode inputMode() const { return inputMode_; }

    // All waiting input as text: one character per byte, code = byte value.
    QString readAllText() { return QString::fromLatin1(readAll()); }

signals:
    // Raised only while open, with a threshold of 1 and input waiting.
    void received();
    // The device went away or failed while open; the channel is now closed.
    void lost(const QString& reason);

private:
    int threshold_ = 0;
    InputMode inputMode_ = InputMode::Text;
};

} // namespace rava
