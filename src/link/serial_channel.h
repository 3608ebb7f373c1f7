#pragma once

#include "channel.h"
#include "line_settings.h"

#include <QPointer>
#include <QtSerialPort/QSerialPort>

namespace rava {

// A feature's serial channel over QSerialPort. The port number (1..4) picks
// the device through deviceForPort(); it takes effect at the next open. The
// line parameters apply at once to an open port.
//
// Within one process a device is held by one open channel at a time: a
// second channel asking for it gets a clear refusal rather than a shared
// line. Closing hands any bytes still queued to a drainer that closes the
// device once they have left; a channel reopening the same device meanwhile
// takes the device back without losing them.
class SerialChannel : public Channel {
    Q_OBJECT
public:
    // `name` is the object name (MSComm1..4); `description` what messages
    // call it ("the text channel").
    SerialChannel(const QString& name, const QString& description, int threshold,
                  QObject* parent = nullptr);
    ~SerialChannel() override;

    void setPort(int port);
    int port() const { return port_; }
    QString devicePath() const;

    void setLineParams(const LineParams& params);
    LineParams lineParams() const { return params_; }

    bool open(QString* error = nullptr) override;
    void close() override;
    void abandon() override;
    bool isOpen() const override;
    QString deviceName() const override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override;
    qint64 bytesWaiting() const override;
    void discardInput() override;
    void discardOutput() override;
    qint64 nsUntilLineQuiet() const override;
    qint64 bytesUnsent() const override;
    qint64 handedToDriverAtNs() const override;

    // The channel's name in the wire trace ("text"); the object name until set.
    void setTraceName(const QString& name) { traceName_ = name; }

    // Bytes handed to write() that have not yet reached the device.
    qint64 bytesToWrite() const;

private:
    // Lets go of the device: with `drain`, bytes still queued go out first.
    void release(bool drain);
    void applySettings();
    void markParity(const LineParams& params);
    void pull() const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    int port_ = 1;
    LineParams params_; // 9600,n,8,1 until set
    QPointer<QSerialPort> serial_;
    QString heldKey_;
    QString heldWhere_; // "COM n (device)" of the device held while open
    QString lastWhere_; // the same, kept after the channel let go
    QString traceName_; // the channel's name in the wire trace
    bool parityMarks_ = false;
    bool inherited_ = false;   // opened while an earlier operation's bytes drained
    mutable QByteArray in_;    // received and decoded, not yet read
    mutable QByteArray carry_; // start of a parity mark split across reads
};

// With parity checking on, the line marks a byte received with a parity
// error as FF 00 byte and a genuine FF as FF FF. Turns such input into
// plain bytes, a bad byte becoming "?". `carry` keeps an unfinished mark
// for the next call.
QByteArray decodeParityMarks(QByteArray& carry, const QByteArray& raw);

// Maps a QSerialPort error to the sentence shown to the user.
QString describeSerialError(QSerialPort::SerialPortError error, const QString& systemText);

} // namespace rava
