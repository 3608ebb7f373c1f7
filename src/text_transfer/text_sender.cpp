#include "text_sender.h"

#include "link/channel.h"
#include "link/station_settings.h"
#include "link/wire_pause.h"

namespace rava::text {

TextSender::TextSender(Channel& channel, const StationSettings& settings, QObject* parent)
    : QObject(parent), channel_(&channel), settings_(settings),
      pacing_(new WirePause(QStringLiteral("Timer1"), this)) {
    connect(pacing_, &WirePause::over, this, &TextSender::writeNextLine);
    connect(pacing_, &WirePause::stalled, this, &TextSender::onStalled);
    connect(&channel, &Channel::lost, this, &TextSender::onLost);
}

TextSender::~TextSender() {
    if (state_ != State::Idle && channel_)
        channel_->close();
}

bool TextSender::send(const QString& path) {
    if (state_ != State::Idle || !channel_)
        return false;
    // The file is read whole and released before the port is touched: a
    // missing file is reported as such, and nothing is held while the lines
    // go out.
    FileRead file = readTextFile(path);
    if (!file.ok()) {
        emit failed(SendFailure::FileUnreadable, file.error);
        return false;
    }
    return sendBytes(std::move(file.bytes));
}

bool TextSender::sendBytes(QByteArray bytes) {
    if (state_ != State::Idle || !channel_)
        return false;
    QString error;
    if (!channel_->open(&error)) {
        emit failed(SendFailure::OpenFailed, error);
        return false;
    }
    state_ = State::Pacing;
    written_ = 0;
    total_ = countLines(bytes);
    lines_ = LineSplitter(std::move(bytes));
    emit busyChanged(true);
    channel_->discardOutput();
    writeNextLine();
    return true;
}

void TextSender::writeNextLine() {
    if (state_ == State::Idle)
        return;
    if (lines_.atEnd()) {
        finish(true);
        return;
    }
    if (!channel_ || !channel_->isOpen()) {
        fail(SendFailure::ChannelLost, QString());
        return;
    }
    const QByteArray wire =
        lineOnWire(lines_.next(), settings_.isMaster(), settings_.remoteAddress());
    if (!channel_->write(wire)) {
        fail(SendFailure::WriteFailed, QString());
        return;
    }
    // The pause counts from the moment the line was handed over.
    pacing_->start(*channel_, settings_.pacingMs());
    emit lineWritten(written_++);
}

void TextSender::fail(SendFailure failure, const QString& detail) {
    finish(false, failure, detail);
}

void TextSender::finish(bool ok, SendFailure failure, const QString& detail) {
    pacing_->stop();
    lines_ = LineSplitter();
    state_ = State::Idle;
    // The channel sends what is still queued before it lets the port go.
    if (channel_)
        channel_->close();
    emit busyChanged(false);
    if (!ok)
        emit failed(failure, detail);
    emit finished(ok);
}

void TextSender::onStalled(qint64 unsent) {
    // Reported as not sent, so never sent late either.
    if (channel_)
        channel_->abandon();
    fail(SendFailure::NotSent, QString::number(unsent));
}

void TextSender::onLost(const QString& reason) {
    if (state_ == State::Idle)
        return;
    fail(SendFailure::ChannelLost, reason);
}

} // namespace rava::text
