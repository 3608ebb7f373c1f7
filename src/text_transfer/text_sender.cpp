#include "text_sender.h"

#include "captions.h"
#include "link/channel.h"
#include "link/one_shot.h"

namespace rava::text {

TextSender::TextSender(Channel& channel, std::function<bool()> isMaster,
                       std::function<int()> remoteAddress, std::function<int()> pacingMs,
                       QObject* parent)
    : QObject(parent), channel_(&channel), isMaster_(std::move(isMaster)),
      remoteAddress_(std::move(remoteAddress)), pacingMs_(std::move(pacingMs)),
      pacing_(new OneShot(QStringLiteral("Timer1"), 0, this)) {
    connect(pacing_, &OneShot::fired, this, &TextSender::writeNextLine);
    connect(&channel, &Channel::lost, this, &TextSender::onLost);
}

TextSender::~TextSender() {
    if (state_ != State::Idle && channel_)
        channel_->close();
}

bool TextSender::send(const QString& path) {
    if (state_ != State::Idle || !channel_)
        return false;
    QString error;
    if (!channel_->open(&error)) {
        if (error.isEmpty())
            error = QStringLiteral("Cannot open the text channel.");
        emit failed(error);
        return false;
    }
    state_ = State::Pacing;
    written_ = 0;
    emit busyChanged(true);
    channel_->discardOutput();
    emit captionChanged(QString::fromLatin1(kWaitingCaption));

    // The file is read whole and released at once, so it is never held
    // while the lines go out, nor after a failure.
    FileRead file = readTextFile(path);
    if (!file.ok()) {
        finish(file.error);
        return true;
    }
    lines_ = LineSplitter(std::move(file.bytes));
    writeNextLine();
    return true;
}

void TextSender::writeNextLine() {
    if (state_ == State::Idle)
        return;
    if (lines_.atEnd()) {
        finish(QString());
        return;
    }
    if (!channel_ || !channel_->isOpen()) {
        finish(QStringLiteral("The text channel is no longer open; the send stopped."));
        return;
    }
    const QByteArray wire = lineOnWire(lines_.next(), isMaster_(), remoteAddress_());
    if (!channel_->write(wire)) {
        finish(QStringLiteral("Writing to the text channel failed; the send stopped."));
        return;
    }
    // The pause counts from the moment the line was handed over.
    pacing_->setInterval(qMax(0, pacingMs_()));
    pacing_->start();
    emit lineWritten(written_++);
}

void TextSender::finish(const QString& error) {
    pacing_->stop();
    lines_ = LineSplitter();
    state_ = State::Idle;
    // The channel sends what is still queued before it lets the port go.
    if (channel_)
        channel_->close();
    emit captionChanged(QString::fromLatin1(kSendIdleCaption));
    emit busyChanged(false);
    if (!error.isEmpty())
        emit failed(error);
    emit finished(error.isEmpty());
}

void TextSender::onLost(const QString& reason) {
    if (state_ == State::Idle)
        return;
    finish(QStringLiteral("The send stopped: %1").arg(reason));
}

} // namespace rava::text
