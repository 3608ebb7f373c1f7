#include "image_pages.h"

#include "form/controls.h"
#include "form/messenger.h"
#include "image_receiver.h"
#include "image_sender.h"
#include "image_words.h"
#include "link/channel.h"
#include "link/device_words.h"
#include "link/station_link.h"
#include "link/wire_pause.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

namespace rava::image {

namespace {
const QString kWaiting = QStringLiteral("Waiting, please...");
const QString kSendIdle = QStringLiteral(
    "Press the Open button to select the image to transmit. You can view it before sending. "
    "When you are ready, press the Send image button.");
const QString kReceiveIdle =
    QStringLiteral("Press the Receive button to download the image. You can view it at the end of "
                   "transmission.");
const QString kSizeCaption = QStringLiteral("Image Size:");
const QString kTimeCaption = QStringLiteral("Time:");
const QString kRateCaption = QStringLiteral("Baud Rate:");

const QString kOpenTitle = QStringLiteral("Select the source file");
const QString kOpenFilter =
    QStringLiteral("Bitmap files (*.bmp);;Gif files (*.gif);;JPEG files (*.jpg)");

} // namespace

QImage loadPicture(const QString& path, const QSize& size) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // The box stretches the picture anyway: decoding straight to its size
    // keeps a large picture from taking memory for nothing.
    if (size.isValid() && !size.isEmpty() && reader.size().isValid())
        reader.setScaledSize(size);
    return reader.read();
}

ImageControls ImageControls::resolve(QWidget* form) {
    using form::require;
    return {require<QPushButton>(form, "Command7"),
            require<QPushButton>(form, "Command8"),
            require<QPushButton>(form, "Command11"),
            require<QLabel>(form, "Image2"),
            require<QProgressBar>(form, "ProgressBar1"),
            require<QLabel>(form, "Label12"),
            require<QPushButton>(form, "Command12"),
            require<QPushButton>(form, "Command13"),
            require<QPushButton>(form, "Command14"),
            require<QLabel>(form, "Image3"),
            require<QProgressBar>(form, "ProgressBar2"),
            require<QLabel>(form, "Label13"),
            require<QLineEdit>(form, "Text9"),
            require<QLabel>(form, "Label15"),
            require<QLabel>(form, "Label11"),
            require<QLabel>(form, "Label14")};
}

ImagePages::ImagePages(const StationContext& ctx, QWidget* form, QObject* parent)
    : ImagePages(ctx, form, ctx.link->imageChannel(), Timings(), parent) {}

ImagePages::ImagePages(const StationContext& ctx, QWidget* form, Channel& channel,
                       const Timings& timings, QObject* parent)
    : QObject(parent), ctx_(ctx), ui_(ImageControls::resolve(form)), channel_(&channel),
      sender_(new ImageSender(channel, *ctx.settings, timings, this)),
      receiver_(new ImageReceiver(channel, *ctx.settings, timings, this)) {
    connect(sender_, &ImageSender::busyChanged, this, &ImagePages::onSendBusy);
    connect(sender_, &ImageSender::started, this, &ImagePages::onSendStarted);
    connect(sender_, &ImageSender::progress, this, &ImagePages::onSendProgress);
    connect(sender_, &ImageSender::failed, this, &ImagePages::onSendFailed);
    connect(receiver_, &ImageReceiver::busyChanged, this, &ImagePages::onReceiveBusy);
    connect(receiver_, &ImageReceiver::headerRead, this, &ImagePages::onHeaderRead);
    connect(receiver_, &ImageReceiver::headerAccepted, this, &ImagePages::onHeaderAccepted);
    connect(receiver_, &ImageReceiver::progress, this, &ImagePages::onReceiveProgress);
    connect(receiver_, &ImageReceiver::finished, this, &ImagePages::onReceived);
    connect(receiver_, &ImageReceiver::failed, this, &ImagePages::onReceiveFailed);

    connect(ui_.open, &QPushButton::clicked, this, &ImagePages::openFile);
    connect(ui_.send, &QPushButton::clicked, this, &ImagePages::sendFile);
    connect(ui_.clear, &QPushButton::clicked, this, &ImagePages::clearSend);
    connect(ui_.receive, &QPushButton::clicked, this, &ImagePages::startReceiving);
    connect(ui_.stop, &QPushButton::clicked, this, [this] {
        receiver_->stop();
        resetStatistics();
    });
    connect(ui_.clearShown, &QPushButton::clicked, this, &ImagePages::clearReceived);

    sendBarFrame_.setSingleShot(true);
    sendBarFrame_.setInterval(16);
    connect(&sendBarFrame_, &QTimer::timeout, this,
            [this] { ui_.sendBar->setValue(sendBarValue_); });
}

ImagePages::~ImagePages() = default;

void ImagePages::warn(const QString& message) {
    if (ctx_.messenger)
        ctx_.messenger->warning(message);
}

void ImagePages::tell(const QString& message) {
    if (ctx_.messenger)
        ctx_.messenger->error(message);
}

void ImagePages::openFile() {
    if (sender_->isBusy() || !ctx_.chooseFile)
        return;
    const QString path = ctx_.chooseFile(kOpenTitle, kOpenFilter);
    if (path.isEmpty())
        return; // cancelled: nothing changes
    // Send image follows the file chosen now: one that does not decode
    // takes the place of the picture before it, so that no preview stays
    // behind claiming a file that is not the one Send image would send.
    const QImage picture = loadPicture(path, ui_.preview->size());
    if (picture.isNull()) {
        selectedFile_.clear();
        ui_.preview->clear();
        ui_.send->setEnabled(false);
        tell(QStringLiteral("The file %1 is not a picture this tool can read; choose a .bmp, "
                            ".gif or .jpg file.")
                 .arg(QDir::toNativeSeparators(path)));
        return;
    }
    selectedFile_ = path;
    ui_.preview->setPixmap(QPixmap::fromImage(picture));
    ui_.send->setEnabled(true);
}

void ImagePages::sendFile() {
    // Sender and receiver share the image channel.
    if (sender_->isBusy() || receiver_->isBusy() || selectedFile_.isEmpty())
        return;
    sender_->send(selectedFile_);
}

void ImagePages::clearSend() {
    if (sender_->isBusy())
        return;
    ui_.preview->clear();
    ui_.send->setEnabled(false);
    ui_.sendBar->setValue(0);
}

void ImagePages::onSendBusy(bool busy) {
    if (ctx_.lockTabs)
        ctx_.lockTabs(Tab::SendImage, busy);
    ui_.sendCaption->setText(busy ? kWaiting : kSendIdle);
    // While a send runs nothing may start another one or change its file.
    ui_.open->setEnabled(!busy);
    ui_.clear->setEnabled(!busy);
    ui_.send->setEnabled(!busy && !selectedFile_.isEmpty());
    if (!busy && sendBarFrame_.isActive()) {
        sendBarFrame_.stop();
        ui_.sendBar->setValue(sendBarValue_);
    }
}

void ImagePages::onSendStarted(qint64 size) {
    sendScale_ = BarScale(size);
    ui_.sendBar->setRange(0, sendScale_.maximum());
    ui_.sendBar->setValue(0);
}

void ImagePages::onSendProgress(qint64 sent) {
    sendBarValue_ = sendScale_.value(sent);
    if (!sendBarFrame_.isActive())
        sendBarFrame_.start();
}

void ImagePages::onSendFailed(SendFailure failure, const QString& detail) {
    tell(sendFailureText(failure, detail, selectedFile_, channel_, sender_->sentCount(),
                         sender_->fileSize(), sender_->pause().stallMs() / 1000));
}

void ImagePages::startReceiving() {
    if (sender_->isBusy() || receiver_->isBusy())
        return;
    resetStatistics();
    if (receiver_->receive())
        ui_.receiveBar->setValue(0);
}

void ImagePages::resetStatistics() {
    ui_.sizeLine->setText(kSizeCaption);
    ui_.timeLine->setText(kTimeCaption);
    ui_.rateLine->setText(kRateCaption);
}

void ImagePages::clearReceived() {
    ui_.picture->clear();
    ui_.sender->clear();
    ui_.receiveBar->setValue(0);
    resetStatistics();
}

void ImagePages::onReceiveBusy(bool busy) {
    if (ctx_.lockTabs)
        ctx_.lockTabs(Tab::ReceiveImage, busy);
    ui_.receiveCaption->setText(busy ? kWaiting : kReceiveIdle);
    ui_.receive->setEnabled(!busy);
    ui_.stop->setEnabled(busy);
}

void ImagePages::onHeaderRead(int sender) {
    ui_.sender->setText(QString::number(sender));
}

void ImagePages::onHeaderAccepted(qint64 size) {
    receiveScale_ = BarScale(size);
    ui_.receiveBar->setRange(0, receiveScale_.maximum());
    ui_.receiveBar->setValue(0);
}

void ImagePages::onReceiveProgress(qint64 received) {
    // On a master the address bytes count too: past the maximum the bar
    // stays where it is until the end.
    if (receiveScale_.fits(received))
        ui_.receiveBar->setValue(receiveScale_.value(received));
}

void ImagePages::onReceived(const Reception& reception) {
    ui_.receiveBar->setValue(ui_.receiveBar->maximum());
    ui_.preview->clear();
    const QImage picture = reception.verdict == Verdict::Complete
                               ? loadPicture(reception.candidate, ui_.picture->size())
                               : QImage();
    const QString warning =
        verdictWarning(reception.verdict, reception.announced, !picture.isNull());
    if (!warning.isEmpty()) {
        warn(warning);
        return;
    }
    ui_.picture->setPixmap(QPixmap::fromImage(picture));
    ui_.sizeLine->setText(sizeText(reception.announced));
    ui_.timeLine->setText(timeText(reception.elapsedMs));
    ui_.rateLine->setText(baudRateText(reception.announced, reception.elapsedMs));
}

void ImagePages::onReceiveFailed(ReceiveFailure failure, const QString& detail) {
    tell(receiveFailureText(failure, detail, channel_, receiver_->imageBytesReceived(),
                            receiver_->announced()));
}

} // namespace rava::image
