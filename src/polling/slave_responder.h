#pragma once

#include "poll_table.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::polling {

class MessageCollector;
enum class PollFailure;

// What a slave answers: the one command it recognises (Text24) and the reply
// it sends for it (Text25). The page keeps these in step with the boxes.
struct SlaveAnswer {
    QString command;
    QString reply;
};

// What a slave writes back for `message`: the reply when the whole message
// equals the command (exactly, case and blanks included), otherwise the
// not-recognised byte. `recognised` tells which.
QByteArray answerFor(const QByteArray& message, const SlaveAnswer& answer, bool* recognised);

// A slave station's side of polling: while it listens (the "Polling" tab is
// shown in slave mode) every message the collector cuts out is answered at
// once, and the status light shows the outcome for the display hold
// (1000 ms): green "Command OK! Reply forwarded" or red "Command not
// recognised!", then white and empty. Input longer than any command (the
// collector's bound) is not answered: red "Command too long! Not answered". A message during a hold
// is answered like any other and its light replaces the one on.
class SlaveResponder : public QObject {
    Q_OBJECT
public:
    static constexpr int kHoldMs = 1000;

    SlaveResponder(Channel& channel, MessageCollector& collector, const SlaveAnswer& answer,
                   QObject* parent = nullptr);
    ~SlaveResponder() override;

    void setHold(int ms);

    bool isListening() const { return listening_; }
    Light light() const { return light_; }
    QString status() const { return status_; }

    // Opens the polling channel (kept as it is when it is open already) and
    // answers from now on. False when already listening or when the channel
    // cannot be opened (failed() tells why; the channel stays closed).
    bool listen();
    // Stops answering and closes the channel; nothing when not listening.
    void stopListening();

signals:
    void listeningChanged(bool listening);
    void lightChanged(rava::polling::Light light, const QString& status);
    // A message was answered with `answer` (empty: nothing was written).
    void answered(const QByteArray& message, const QByteArray& answer, bool recognised);
    void failed(rava::polling::PollFailure failure, const QString& detail);

private:
    void onMessage(const QByteArray& message);
    void onTooLong();
    void onHoldOver();
    void onLost(const QString& reason);
    void show(Light light, const QString& status);
    void stop();

    QPointer<Channel> channel_;
    MessageCollector& collector_;
    const SlaveAnswer& answer_;
    OneShot* hold_;
    bool listening_ = false;
    Light light_ = Light::White;
    QString status_;
};

} // namespace rava::polling
