#include "image_receiver.h"

#include "link/channel.h"
#include "link/channel_session.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "temp_files.h"

#include <QDir>
#include <QFile>

namespace rava::image {

ImageReceiver::ImageReceiver(Channel& channel, const StationSettings& settings, QObject* parent)
    : ImageReceiver(channel, settings, Timings(), parent) {}

ImageReceiver::ImageReceiver(Channel& channel, const StationSettings& settings,
                             const Timings& timings, QObject* parent)
    : QObject(parent), session_(new ChannelSession(channel, this)), settings_(settings),
      timer4_(new OneShot(QStringLiteral("Timer4"), timings.endOfReceptionMs, this)),
      settle_(new OneShot(QStringLiteral("HeaderSettle"), timings.headerSettleMs, this)) {
    connect(timer4_, &OneShot::fired, this, &ImageReceiver::onEndOfReception);
    connect(settle_, &OneShot::fired, this, &ImageReceiver::settleHeader);
    connect(session_, &ChannelSession::received, this, &ImageReceiver::onReceived);
    connect(session_, &ChannelSession::failed, this, &ImageReceiver::onLost);
}

// The session closes the channel of a running reception.
ImageReceiver::~ImageReceiver() = default;

bool ImageReceiver::receive() {
    if (state_ != State::Idle)
        return false;
    QString error;
    const QString dir = privateTempDir(&error);
    std::unique_ptr<QFile> file;
    if (!dir.isEmpty()) {
        // Both files start empty: nothing of an earlier, longer reception
        // may stay behind the new bytes or count in the length check.
        file = openTempFile(dir, QLatin1String(kStrippedName), &error);
        if (file)
            file = openTempFile(dir, QLatin1String(kReceivedName), &error);
    }
    if (!file) {
        emit failed(ReceiveFailure::TempFiles, error);
        return false;
    }
    ChannelFailure failure;
    if (!session_->open(ChannelClaim::reading(), &failure)) {
        emit failed(ReceiveFailure::OpenFailed, failure.message);
        return false;
    }
    dir_ = dir;
    dataFile_ = std::move(file);
    master_ = settings_.isMaster();
    pendingHeader_.clear();
    announced_ = 0;
    received_ = 0;
    state_ = State::AwaitingHeader;
    emit busyChanged(true);
    return true;
}

void ImageReceiver::stop() {
    if (state_ != State::Idle)
        end();
}

void ImageReceiver::onReceived() {
    if (state_ == State::Idle)
        return;
    const QByteArray bytes = session_->readAll();
    if (bytes.isEmpty())
        return;
    if (state_ == State::AwaitingHeader)
        takeHeader(bytes);
    else
        takeData(bytes);
}

qint64 ImageReceiver::imageBytesReceived() const {
    // On a master every packet of 91 bytes begins with an address byte.
    const qint64 bytes =
        master_ ? received_ - (received_ + kPacketSize - 1) / kPacketSize : received_;
    return qMin(bytes, announced_);
}

void ImageReceiver::takeHeader(const QByteArray& batch) {
    // The reception's clock runs from the header's first byte, however long
    // the header then waits to be taken as whole.
    if (pendingHeader_.isEmpty())
        since_.start();
    // What is held never exceeds the longest header, so each batch is read
    // once: the whole reception costs time in proportion to what came.
    pendingHeader_ += batch;
    const Header header = parseHeader(pendingHeader_, master_);
    if (header.complete) {
        settleHeader();
        return;
    }
    if (pendingHeader_.size() > kLongestHeader - (master_ ? 0 : 1)) {
        // Blanks and digits that do not end (a peer that never goes quiet).
        emit headerRead(header.sender);
        endWith(Verdict::HeaderTooLong);
        return;
    }
    settle_->start();
}

void ImageReceiver::settleHeader() {
    settle_->stop();
    if (state_ != State::AwaitingHeader || pendingHeader_.isEmpty())
        return;
    QByteArray batch;
    batch.swap(pendingHeader_);
    const Header header = parseHeader(batch, master_);
    emit headerRead(header.sender);
    if (!header.accepted()) {
        announced_ = 0;
        armAfterFailure();
        return;
    }
    announced_ = header.size;
    received_ = 0;
    state_ = State::ReceivingData;
    emit headerAccepted(announced_);
    // A block that came in the same batch as the header is data.
    if (!header.data.isEmpty() && state_ == State::ReceivingData)
        takeData(header.data);
}

void ImageReceiver::takeData(const QByteArray& bytes) {
    timer4_->stop();
    // A sender that goes on past the announced size and a block more is
    // not sending this image: keep up to the bound, then end at once
    // rather than fill the disk while waiting for a silence.
    const qint64 room = dataBound(announced_, master_) - received_;
    const bool over = bytes.size() > room;
    const QByteArray kept = over ? bytes.left(qsizetype(room)) : bytes;
    received_ += kept.size();
    if (dataFile_->write(kept) != kept.size()) {
        armAfterFailure();
        return;
    }
    emit progress(received_);
    if (over)
        endWith(Verdict::TooMuchData);
    else if (state_ == State::ReceivingData)
        timer4_->start();
}

void ImageReceiver::armAfterFailure() {
    if (!timer4_->isActive())
        timer4_->start();
}

void ImageReceiver::onEndOfReception() {
    endWith(std::nullopt);
}

void ImageReceiver::endWith(std::optional<Verdict> verdict) {
    if (state_ == State::Idle)
        return;
    const qint64 elapsed = state_ == State::ReceivingData ? since_.elapsed() : 0;
    Reception result = evaluate();
    if (verdict)
        result.verdict = *verdict;
    result.elapsedMs = elapsed;
    end();
    emit finished(result);
    // Whatever came after the end is dropped; the port is not reopened.
    if (Channel* channel = session_->channel())
        channel->discardInput();
}

Reception ImageReceiver::evaluate() {
    Reception r;
    r.announced = announced_;
    QFile& received = *dataFile_;
    received.flush();
    if (!master_) {
        r.candidate = QDir::cleanPath(dir_ + QLatin1Char('/') + QLatin1String(kReceivedName));
        r.stored = received.size();
    } else {
        r.candidate = QDir::cleanPath(dir_ + QLatin1Char('/') + QLatin1String(kStrippedName));
        QString error;
        std::unique_ptr<QFile> stripped = openTempFile(dir_, QLatin1String(kStrippedName), &error);
        r.stored = 0;
        if (stripped && received.seek(0)) {
            const qint64 n = stripAddressBytes(received, *stripped);
            stripped->flush();
            r.stored = n < 0 ? 0 : stripped->size();
        }
    }
    r.verdict = judge(r.announced, r.stored);
    return r;
}

void ImageReceiver::onLost(const ChannelFailure& failure) {
    if (state_ == State::Idle)
        return;
    end();
    emit failed(ReceiveFailure::ChannelLost, failure.message);
}

void ImageReceiver::end() {
    timer4_->stop();
    settle_->stop();
    pendingHeader_.clear();
    state_ = State::Idle;
    dataFile_.reset();
    session_->close();
    emit busyChanged(false);
}

} // namespace rava::image
