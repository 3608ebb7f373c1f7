#include "text_pages.h"

#include "captions.h"
#include "link/channel.h"
#include "link/messenger.h"
#include "link/station_link.h"
#include "text_box.h"
#include "text_lines.h"
#include "text_receiver.h"
#include "text_sender.h"

#include <QAbstractButton>
#include <QWidget>

namespace rava::text {

namespace {
constexpr int kSendTab = 1;
constexpr int kReceiveTab = 2;
} // namespace

TextPages::TextPages(const StationContext& ctx, QObject* parent)
    : TextPages(
          ctx, ctx.link->textChannel(), [link = ctx.link] { return link->pacingMs(); }, parent) {}

TextPages::TextPages(const StationContext& ctx, Channel& channel, std::function<int()> pacingMs,
                     QObject* parent)
    : QObject(parent), ctx_(ctx) {
    auto isMaster = [this] { return ctx_.isMaster && ctx_.isMaster(); };
    auto remoteAddress = [this] { return ctx_.remoteAddress ? ctx_.remoteAddress() : 0; };
    sender_ = new TextSender(channel, isMaster, remoteAddress, std::move(pacingMs), this);
    receiver_ = new TextReceiver(channel, isMaster, this);

    connect(sender_, &TextSender::busyChanged, this, &TextPages::onSendBusy);
    connect(sender_, &TextSender::captionChanged, this,
            [this](const QString& caption) { setText(control("Label8"), caption); });
    connect(sender_, &TextSender::failed, this, &TextPages::tell);

    connect(receiver_, &TextReceiver::busyChanged, this, &TextPages::onReceiveBusy);
    connect(receiver_, &TextReceiver::captionChanged, this,
            [this](const QString& caption) { setText(control("Label9"), caption); });
    connect(receiver_, &TextReceiver::lineReceived, this, &TextPages::showLine);
    connect(receiver_, &TextReceiver::failed, this, &TextPages::tell);

    if (auto* b = button("Command3"))
        connect(b, &QAbstractButton::clicked, this, &TextPages::openFile);
    if (auto* b = button("Command4"))
        connect(b, &QAbstractButton::clicked, this, &TextPages::sendFile);
    if (auto* b = button("Command9"))
        connect(b, &QAbstractButton::clicked, this, &TextPages::clearFile);
    if (auto* b = button("Command6"))
        connect(b, &QAbstractButton::clicked, this, &TextPages::startReceiving);
    if (auto* b = button("Command5"))
        connect(b, &QAbstractButton::clicked, receiver_, &TextReceiver::stop);
    if (auto* b = button("Command10"))
        connect(b, &QAbstractButton::clicked, this, &TextPages::clearReceived);

    // The boxes only ever get text from here; an undo history of 100,000
    // appended lines would be memory for nothing.
    forgetEdits(control("Text1"));
    forgetEdits(control("Text2"));
}

TextPages::~TextPages() = default;

QWidget* TextPages::control(const char* name) const {
    return ctx_.form ? ctx_.form->findChild<QWidget*>(QLatin1String(name)) : nullptr;
}

QAbstractButton* TextPages::button(const char* name) const {
    return qobject_cast<QAbstractButton*>(control(name));
}

void TextPages::enable(const char* name, bool enabled) const {
    if (QWidget* w = control(name))
        w->setEnabled(enabled);
}

void TextPages::tell(const QString& message) {
    if (ctx_.messenger)
        ctx_.messenger->error(message);
}

void TextPages::openFile() {
    if (sender_->isBusy() || !ctx_.chooseFile)
        return;
    const QString path = ctx_.chooseFile(QString::fromLatin1(kOpenDialogTitle),
                                         QString::fromLatin1(kOpenDialogFilter));
    // A cancelled dialog leaves everything as it was, the box included, so
    // the box always shows the file that Send would send.
    if (path.isEmpty())
        return;
    const FileRead file = readTextFile(path);
    selectedFile_ = path;
    fileChosen_ = true;
    enable("Command4", true);
    showLines(control("Text1"), splitLines(file.bytes));
    if (!file.ok())
        tell(file.error);
}

void TextPages::sendFile() {
    // Both share the text channel: one must not close it under the other.
    if (!fileChosen_ || sender_->isBusy() || receiver_->isBusy())
        return;
    sender_->send(selectedFile_);
}

void TextPages::clearFile() {
    if (sender_->isBusy())
        return;
    clearBox(control("Text1"));
    fileChosen_ = false;
    enable("Command4", false);
}

void TextPages::startReceiving() {
    if (!sender_->isBusy())
        receiver_->receive();
}

void TextPages::onSendBusy(bool busy) {
    if (ctx_.lockTabs)
        ctx_.lockTabs(kSendTab, busy);
    // While a send runs nothing may start another one or touch its file.
    enable("Command3", !busy);
    enable("Command9", !busy);
    enable("Command4", !busy && fileChosen_);
}

void TextPages::onReceiveBusy(bool busy) {
    if (ctx_.lockTabs)
        ctx_.lockTabs(kReceiveTab, busy);
    enable("Command6", !busy);
    enable("Command5", busy);
}

void TextPages::showLine(const QByteArray& line, int sender) {
    appendLine(control("Text2"), line);
    setText(control("Text8"), QString::number(sender));
}

void TextPages::clearReceived() {
    clearBox(control("Text2"));
    clearBox(control("Text8"));
}

} // namespace rava::text
