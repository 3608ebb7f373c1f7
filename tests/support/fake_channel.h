#pragma once

#include "link/channel.h"

#include <QList>

namespace rava::test {

// An in-memory channel: records every write as one packet and delivers
// injected input the way a serial port does.
class FakeChannel : public Channel {
    Q_OBJECT
public:
    using Channel::Channel;

    bool open(QString* error = nullptr) override {
        ++opens;
        if (failOpen) {
            if (error)
                *error = failReason;
            return false;
        }
        open_ = true;
        return true;
    }
    void close() override {
        if (open_)
            ++closes;
        open_ = false;
    }
    QString deviceName() const override { return device; }
    bool isOpen() const override { return open_; }
    bool write(const QByteArray& bytes) override {
        if (!open_)
            return false;
        writes.append(bytes);
        return true;
    }
    QByteArray readAll() override {
        QByteArray all;
        all.swap(input);
        return all;
    }
    qint64 bytesWaiting() const override { return input.size(); }
    void discardInput() override {
        input.clear();
        ++inputDiscards;
    }
    void discardOutput() override { ++outputDiscards; }

    // Bytes arriving from the line: kept while open, dropped while closed.
    void inject(const QByteArray& bytes) {
        if (!open_)
            return;
        input.append(bytes);
        if (receiveThreshold() >= 1 && !input.isEmpty())
            emit received();
    }

    QByteArray allWritten() const {
        QByteArray all;
        for (const QByteArray& w : writes)
            all.append(w);
        return all;
    }

    QList<QByteArray> writes;
    QByteArray input;
    int opens = 0;
    int closes = 0;
    int inputDiscards = 0;
    int outputDiscards = 0;
    bool failOpen = false;
    QString device = QStringLiteral("COM 1 (/dev/null)");
    QString failReason = QStringLiteral("Cannot open COM 1 (/dev/null): refused.");

private:
    bool open_ = false;
};

} // namespace rava::test
