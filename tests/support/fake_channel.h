#pragma once

#include "link/channel.h"

#include <QDeadlineTimer>
#include <QList>
#include <utility>

namespace rava::test {

// An in-memory channel: records every write as one packet, with the moment
// it was handed over, and delivers injected input the way a serial port does.
class FakeChannel : public Channel {
    Q_OBJECT
public:
    using Channel::Channel;

    bool open(QString* error = nullptr) override {
        ++opens;
        if (failOpen && error)
            *error = failReason;
        open_ |= !failOpen;
        return !failOpen;
    }
    void close() override {
        closes += open_;
        open_ = false;
    }
    QString deviceName() const override { return QStringLiteral("COM 1 (/dev/null)"); }
    bool isOpen() const override { return open_; }
    bool write(const QByteArray& bytes) override {
        if (open_) {
            writes.append(bytes);
            writtenAtNs.append(QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs());
        }
        return open_;
    }
    QByteArray readAll() override { return std::exchange(input, QByteArray()); }
    qint64 bytesWaiting() const override { return input.size(); }
    void discardInput() override { input.clear(); }
    void discardOutput() override { ++outputDiscards; }

    // Bytes arriving from the line: kept while open, dropped while closed.
    void inject(const QByteArray& bytes) {
        if (!open_)
            return;
        input.append(bytes);
        if (receiveThreshold() >= 1 && !input.isEmpty())
            emit received();
    }
    QByteArray allWritten() const { return writes.join(); }

    QList<QByteArray> writes;
    QList<qint64> writtenAtNs;
    QByteArray input;
    int opens = 0;
    int closes = 0;
    int outputDiscards = 0;
    bool failOpen = false;
    QString failReason = QStringLiteral("Cannot open COM 1 (/dev/null): refused.");

private:
    bool open_ = false;
};

} // namespace rava::test
