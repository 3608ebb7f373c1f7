#include "text_sender.h"

#include "link/channel.h"
#include "link/channel_session.h"
#include "link/device_words.h"
#include "link/station_settings.h"
#include "link/wire_pause.h"

namespace rava::text {

TextSender::TextSender(Channel& channel, const StationSettings& settings, QObject* parent)
    : TextSender(channel, settings, Timings(), parent) {}

TextSender::TextSender(Channel& channel, const StationSettings& settings, const Timings& timings,
                       QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)), settings_(settings),
      pacing_(new WirePause(QStringLiteral("Timer1"), this)) {
    pacing_->setStallMs(timings.stallMs);
    connect(pacing_, &WirePause::over, this, &TextSender::writeNextLine);
    connect(pacing_, &WirePause::stalled, this, &TextSender::onStalled);
    connect(session_, &ChannelSession::failed, this, &TextSender::onLost);
}

// The session closes the channel of a running send.
TextSender::~TextSender() = default;

bool TextSender::send(const QString& path) {
    if (state_ != State::Idle)
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
    if (state_ != State::Idle)
        return false;
    ChannelFailure failure;
    if (!session_->open(ChannelClaim::writing(), &failure)) {
        emit failed(SendFailure::OpenFailed, failure.message);
        return false;
    }
    state_ = State::Pacing;
    written_ = 0;
    total_ = countLines(bytes);
    lines_ = LineSplitter(std::move(bytes));
    emit busyChanged(true);
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
    if (!session_->isOpen()) {
        fail(SendFailure::ChannelLost, deviceGone(session_->channel()));
        return;
    }
    const QByteArray wire =
        lineOnWire(lines_.next(), settings_.isMaster(), settings_.remoteAddress());
    if (!session_->write(wire)) {
        fail(SendFailure::WriteFailed, QString());
        return;
    }
    // The pause counts from the moment the line was handed over.
    pacing_->start(*session_->channel(), settings_.pacingMs());
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
    session_->close();
    emit busyChanged(false);
    if (!ok)
        emit failed(failure, detail);
    emit finished(ok);
}

void TextSender::onStalled(qint64 unsent) {
    // Reported as not sent, so never sent late either.
    session_->abandon();
    fail(SendFailure::NotSent, QString::number(unsent));
}

void TextSender::onLost(const ChannelFailure& failure) {
    if (state_ == State::Idle)
        return;
    fail(SendFailure::ChannelLost, failure.message);
}

} // namespace rava::text
