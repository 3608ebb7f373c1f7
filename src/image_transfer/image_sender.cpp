#include "image_sender.h"

#include "link/channel_session.h"
#include "link/device_words.h"
#include "link/station_settings.h"
#include "link/wire_pause.h"

namespace rava::image {

ImageSender::ImageSender(Channel& channel, const StationSettings& settings, QObject* parent)
    : ImageSender(channel, settings, Timings(), parent) {}

ImageSender::ImageSender(Channel& channel, const StationSettings& settings, const Timings& timings,
                         QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)), settings_(settings),
      wait_(new WirePause(QStringLiteral("ImageSendWait"), this)), timings_(timings) {
    wait_->setStallMs(timings.stallMs);
    connect(wait_, &WirePause::over, this, &ImageSender::onWaitOver);
    connect(wait_, &WirePause::stalled, this, &ImageSender::onStalled);
    connect(session_, &ChannelSession::failed, this, &ImageSender::onLost);
}

// The session closes the channel of a running send.
ImageSender::~ImageSender() = default;

int ImageSender::blockGapMs() const {
    return qMax(0, timings_.blockGapMs.value_or(settings_.blockGapMs()));
}

int ImageSender::lastBlockDelayMs() const {
    return qMax(0, timings_.lastBlockDelayMs.value_or(settings_.lastBlockDelayMs()));
}

bool ImageSender::send(const QString& path) {
    if (state_ != State::Idle)
        return false;
    // The file is opened before the port is touched, so that a file that
    // has gone is reported as such and the port is never claimed for it.
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        const QString why = file_.errorString();
        emit failed(SendFailure::FileUnreadable, why);
        return false;
    }
    const qint64 size = file_.size();
    if (size <= 0 || size > kMaxImageSize) {
        file_.close();
        emit failed(size <= 0 ? SendFailure::EmptyFile : SendFailure::TooLarge, QString());
        return false;
    }
    ChannelFailure failure;
    if (!session_->open(ChannelClaim::writing(), &failure)) {
        file_.close();
        emit failed(SendFailure::OpenFailed, failure.message);
        return false;
    }
    master_ = settings_.isMaster();
    address_ = settings_.remoteAddress();
    size_ = size;
    sent_ = 0;
    state_ = State::BlockGap;
    emit busyChanged(true);
    if (!session_->write(headerOnWire(size_, master_, address_))) {
        finish(false, SendFailure::WriteFailed);
        return true;
    }
    arm(State::BlockGap, blockGapMs());
    emit started(size_);
    return true;
}

void ImageSender::arm(State state, int ms) {
    state_ = state;
    wait_->start(*session_->channel(), ms);
}

void ImageSender::onWaitOver() {
    if (state_ == State::Idle)
        return;
    if (state_ == State::Draining) {
        finish(true);
        return;
    }
    if (!session_->isOpen()) {
        finish(false, SendFailure::ChannelLost, deviceGone(session_->channel()));
        return;
    }
    const qint64 unread = size_ - sent_;
    const Step done = state_ == State::BlockGap ? Step::BlockGap : Step::LastBlockDelay;
    switch (nextStep(done, unread)) {
    case Step::WriteBlock:
        writeBlock(kBlockSize, State::BlockGap, blockGapMs());
        break;
    case Step::LastBlockDelay:
        arm(State::LastBlockDelay, lastBlockDelayMs());
        break;
    case Step::WriteLastBlock:
        writeBlock(unread, State::Draining, 0);
        break;
    default:
        finish(true);
        break;
    }
}

void ImageSender::writeBlock(qint64 bytes, State next, int ms) {
    const QByteArray data = file_.read(bytes);
    if (data.size() != bytes) {
        const QString why = data.size() < 0 || file_.error() != QFileDevice::NoError
                                ? file_.errorString()
                                : QStringLiteral("the file became shorter during the send");
        finish(false, SendFailure::ReadFailed, why);
        return;
    }
    if (!session_->write(blockOnWire(data, master_, address_))) {
        finish(false, SendFailure::WriteFailed);
        return;
    }
    // The pause starts before anyone hears of the progress: a repaint must
    // not lengthen it.
    arm(next, ms);
    sent_ += bytes;
    emit progress(sent_);
}

void ImageSender::finish(bool ok, SendFailure failure, const QString& detail) {
    if (state_ == State::Idle)
        return;
    wait_->stop();
    state_ = State::Idle;
    file_.close();
    // The channel sends what is still queued before it lets the port go.
    session_->close();
    emit busyChanged(false);
    if (!ok)
        emit failed(failure, detail);
    emit finished(ok);
}

void ImageSender::onStalled(qint64 unsent) {
    // Reported as not sent, so never sent late either.
    session_->abandon();
    finish(false, SendFailure::NotSent, QString::number(unsent));
}

void ImageSender::onLost(const ChannelFailure& failure) {
    if (state_ != State::Idle)
        finish(false, SendFailure::ChannelLost, failure.message);
}

} // namespace rava::image
