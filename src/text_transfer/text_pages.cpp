#include "text_pages.h"

#include "form/controls.h"
#include "form/messenger.h"
#include "link/channel.h"
#include "link/device_words.h"
#include "link/one_shot.h"
#include "link/station_link.h"
#include "link/wire_pause.h"
#include "text_box.h"
#include "text_file_loader.h"
#include "text_lines.h"
#include "text_receiver.h"
#include "text_sender.h"
#include "text_words.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace rava::text {

namespace {
// The instruction captions while an operation runs and after it ended. (The
// captions at creation differ slightly and live in the window's layout.)
const QString kWaiting = QStringLiteral("Waiting, please...");
const QString kSendIdle =
    QStringLiteral("Press the Open button to select the file. You can view it in the window below. "
                   "Press the Send button when you are ready to transmit.");
const QString kReceiveIdle = QStringLiteral(
    "Press the Receive button when you are ready. You can view the received file in the "
    "window below.");

const QString kOpenTitle = QStringLiteral("Select the source file");
const QString kOpenFilter = QStringLiteral("Text files (*.txt)");
} // namespace

TextControls TextControls::resolve(QWidget* form) {
    using form::require;
    return {require<QPushButton>(form, "Command3"), require<QPushButton>(form, "Command4"),
            require<QPushButton>(form, "Command9"), require<QPlainTextEdit>(form, "Text1"),
            require<QLabel>(form, "Label8"),        require<QPushButton>(form, "Command6"),
            require<QPushButton>(form, "Command5"), require<QPushButton>(form, "Command10"),
            require<QPlainTextEdit>(form, "Text2"), require<QLineEdit>(form, "Text8"),
            require<QLabel>(form, "Label9")};
}

TextPages::TextPages(const StationContext& ctx, QWidget* form, QObject* parent)
    : TextPages(ctx, form, ctx.link->textChannel(), Timings(), parent) {}

TextPages::TextPages(const StationContext& ctx, QWidget* form, Channel& channel,
                     const Timings& timings, QObject* parent)
    : QObject(parent), ctx_(ctx), ui_(TextControls::resolve(form)), channel_(&channel),
      sender_(new TextSender(channel, *ctx.settings, timings, this)),
      receiver_(new TextReceiver(channel, *ctx.settings, timings, this)),
      loader_(new FileLoader(this)), drawStep_(new OneShot(QStringLiteral("drawLines"), 0, this)) {
    connect(drawStep_, &OneShot::fired, this, &TextPages::drawReceived);
    connect(sender_, &TextSender::busyChanged, this, &TextPages::onSendBusy);
    connect(sender_, &TextSender::failed, this, &TextPages::onSendFailed);
    connect(receiver_, &TextReceiver::busyChanged, this, &TextPages::onReceiveBusy);
    connect(receiver_, &TextReceiver::lineReceived, this, &TextPages::showLine);
    connect(receiver_, &TextReceiver::batchDone, this, &TextPages::scheduleDraw);
    connect(receiver_, &TextReceiver::failed, this, &TextPages::onReceiveFailed);

    connect(loader_, &FileLoader::piece, this,
            [this](const QString& text) { appendText(ui_.file, text); });
    connect(loader_, &FileLoader::finished, this, &TextPages::onFileLoaded);

    connect(ui_.open, &QPushButton::clicked, this, &TextPages::openFile);
    connect(ui_.send, &QPushButton::clicked, this, &TextPages::sendFile);
    connect(ui_.clear, &QPushButton::clicked, this, &TextPages::clearFile);
    connect(ui_.receive, &QPushButton::clicked, this, &TextPages::startReceiving);
    connect(ui_.stop, &QPushButton::clicked, receiver_, &TextReceiver::stop);
    connect(ui_.clearLines, &QPushButton::clicked, this, &TextPages::clearReceived);

    // The boxes only ever get text from here; an undo history of 100,000
    // appended lines would be memory for nothing.
    forgetEdits(ui_.file);
    forgetEdits(ui_.lines);
    // The boxes show both scroll bars at all times, and such a box redraws
    // its whole frame whenever their range changes; filled, it hides the
    // tab page beneath, which then need not be drawn again each time.
    for (QPlainTextEdit* box : {ui_.file, ui_.lines})
        box->setAutoFillBackground(true);
}

TextPages::~TextPages() = default;

void TextPages::tell(const QString& message) {
    if (ctx_.messenger)
        ctx_.messenger->error(message);
}

void TextPages::openFile() {
    if (sender_->isBusy() || !ctx_.chooseFile)
        return;
    const QString path = ctx_.chooseFile(kOpenTitle, kOpenFilter);
    // A cancelled dialog leaves everything as it was, the box included, so
    // the box always shows the file that Send would send.
    if (path.isEmpty())
        return;
    // A path that cannot be opened at all, or is no regular file, changes
    // nothing either.
    QString error;
    if (!loader_->start(path, &error)) {
        tell(error);
        return;
    }
    selectedFile_ = path;
    // The file comes into the box piece by piece; Send waits for the whole.
    fileChosen_ = false;
    ui_.send->setEnabled(false);
    clearBox(ui_.file);
}

void TextPages::onFileLoaded(bool ok, const QString& error) {
    // A file that could not be read whole is not offered for sending.
    fileChosen_ = ok;
    ui_.send->setEnabled(ok && !sender_->isBusy());
    if (!ok)
        tell(error);
}

void TextPages::sendFile() {
    // Both share the text channel: one must not close it under the other.
    if (!fileChosen_ || sender_->isBusy() || receiver_->isBusy())
        return;
    // What goes out is what the box shows, even if the file changed since.
    sender_->sendBytes(loader_->bytes());
}

void TextPages::clearFile() {
    if (sender_->isBusy())
        return;
    loader_->reset();
    clearBox(ui_.file);
    fileChosen_ = false;
    ui_.send->setEnabled(false);
}

void TextPages::startReceiving() {
    if (!sender_->isBusy())
        receiver_->receive();
}

void TextPages::onSendBusy(bool busy) {
    if (ctx_.lockTabs)
        ctx_.lockTabs(Tab::SendText, busy);
    ui_.sendCaption->setText(busy ? kWaiting : kSendIdle);
    // While a send runs nothing may start another one or touch its file.
    ui_.open->setEnabled(!busy);
    ui_.clear->setEnabled(!busy);
    ui_.send->setEnabled(!busy && fileChosen_);
}

void TextPages::onReceiveBusy(bool busy) {
    if (busy)
        receivedCount_ = 0;
    if (!busy)
        drawReceived(); // everything received is shown when the reception ends
    if (ctx_.lockTabs)
        ctx_.lockTabs(Tab::ReceiveText, busy);
    ui_.receiveCaption->setText(busy ? kWaiting : kReceiveIdle);
    ui_.receive->setEnabled(!busy);
    ui_.stop->setEnabled(busy);
}

void TextPages::onSendFailed(SendFailure failure, const QString& detail) {
    tell(sendFailureText(failure, detail, channel_, sender_->linesWritten(), sender_->lineCount(),
                         sender_->pacing().stallMs() / 1000));
}

void TextPages::onReceiveFailed(ReceiveFailure failure, const QString& detail) {
    tell(receiveFailureText(failure, detail, channel_, receivedCount_));
}

void TextPages::showLine(const QByteArray& line, int sender) {
    ++receivedCount_;
    if (haveReceived_)
        received_ += QLatin1Char('\n');
    received_ += displayText(line);
    haveReceived_ = true;
    lastSender_ = sender;
}

void TextPages::scheduleDraw() {
    if (!haveReceived_ || drawStep_->isActive())
        return;
    // Now, at the end of the receive event, or one frame after the last
    // drawing if that was less than a frame ago.
    const qint64 since = sinceDrawn_.isValid() ? sinceDrawn_.elapsed() : kFrameMs;
    if (since >= kFrameMs) {
        drawReceived();
        return;
    }
    drawStep_->setInterval(int(kFrameMs - since));
    drawStep_->start();
}

void TextPages::drawReceived() {
    drawStep_->stop();
    if (!haveReceived_)
        return;
    appendLines(ui_.lines, received_, !boxHasLines_);
    boxHasLines_ = true;
    haveReceived_ = false;
    received_.clear();
    setText(ui_.sender, QString::number(lastSender_));
    sinceDrawn_.start();
}

void TextPages::clearReceived() {
    // Lines that came before the click are cleared with the rest.
    drawStep_->stop();
    received_.clear();
    haveReceived_ = false;
    boxHasLines_ = false;
    clearBox(ui_.lines);
    clearBox(ui_.sender);
}

} // namespace rava::text
