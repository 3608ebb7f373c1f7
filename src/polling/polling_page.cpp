#include "polling_page.h"

#include "form/controls.h"
#include "form/entry_binder.h"
#include "form/messenger.h"
#include "link/channel.h"
#include "link/device_words.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "master_poller.h"
#include "message_collector.h"
#include "polling_words.h"

#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace rava::polling {

namespace {
QString rangeMessage(int index) {
    return QStringLiteral("Address of Slave %1 is outside the range!").arg(index);
}
// Valid slave addresses: 0 is the master's.
bool slaveAddressRange(double value) {
    return value >= 1 && value <= 255;
}

// What the tab shows for each outcome.
const QString kWrongCommand = QStringLiteral("Wrong command!");
const QString kRecognised = QStringLiteral("Command OK! Reply forwarded");
const QString kRefused = QStringLiteral("Command not recognised!");
const QString kTooLong = QStringLiteral("Command too long! Not answered");

template <class... Ts> struct Visitor : Ts... { using Ts::operator()...; };
template <class... Ts> Visitor(Ts...) -> Visitor<Ts...>;
} // namespace

QColor colourOf(Light light) {
    switch (light) {
    case Light::Green:
        return QColor(0, 255, 0);
    case Light::Red:
        return QColor(255, 0, 0);
    case Light::White:
        break;
    }
    return QColor(255, 255, 255);
}

SlaveChannelAction slaveChannelAction(bool slave, Tab current, Tab previous) {
    if (!slave)
        return SlaveChannelAction::None;
    if (current == Tab::Polling && previous != Tab::Polling)
        return SlaveChannelAction::Open;
    if (previous == Tab::Polling && current != Tab::Polling)
        return SlaveChannelAction::Close;
    return SlaveChannelAction::None;
}

PollingControls PollingControls::resolve(QWidget* form) {
    using form::arrayMember;
    using form::require;
    PollingControls c{};
    for (int i = 1; i <= PollTable::kRows; ++i) {
        const auto k = size_t(i - 1);
        c.enable[k] = require<QCheckBox>(form, arrayMember("Check1", i));
        c.address[k] = require<QLineEdit>(form, arrayMember("Text4", i));
        c.command[k] = require<QLineEdit>(form, arrayMember("Text14", i));
        c.reply[k] = require<QLineEdit>(form, arrayMember("Text19", i));
    }
    c.message = require<QLabel>(form, "Label25");
    c.start = require<QPushButton>(form, "Command15");
    c.end = require<QPushButton>(form, "Command20");
    c.slaveCommand = require<QLineEdit>(form, "Text24");
    c.slaveReply = require<QLineEdit>(form, "Text25");
    c.slaveStatus = require<QLabel>(form, "Label24");
    c.masterFrame = require<QWidget>(form, "Frame9");
    c.addressTitle = require<QWidget>(form, "Label3");
    c.commandTitle = require<QWidget>(form, "Label20");
    c.replyTitle = require<QWidget>(form, "Label21");
    c.slaveFrame = require<QWidget>(form, "Frame10");
    c.slaveCmdTitle = require<QWidget>(form, "Label22");
    c.slaveRepTitle = require<QWidget>(form, "Label23");
    return c;
}

PollingPage::PollingPage(const StationContext& ctx, QWidget* form, QObject* parent)
    : PollingPage(ctx, form, ctx.link->pollingChannel(), Timings(), parent) {}

PollingPage::PollingPage(const StationContext& ctx, QWidget* form, Channel& channel,
                         const Timings& timings, QObject* parent)
    : QObject(parent), ctx_(ctx), ui_(PollingControls::resolve(form)),
      collector_(new MessageCollector(channel, timings, this)),
      master_(new MasterPoller(*collector_, table_, timings, this)),
      slave_(new SlaveResponder(*collector_, answer_, timings, this)) {
    // In the order a mode change walks them.
    slaveOnly_ = {ui_.slaveCommand,  ui_.slaveReply,  ui_.slaveCmdTitle,
                  ui_.slaveRepTitle, ui_.slaveStatus, ui_.slaveFrame};
    masterOnly_.assign(ui_.enable.begin(), ui_.enable.end());
    for (QWidget* w : {ui_.masterFrame, ui_.addressTitle, ui_.commandTitle, ui_.replyTitle})
        masterOnly_.push_back(w);
    masterOnly_.insert(masterOnly_.end(), ui_.address.begin(), ui_.address.end());
    masterOnly_.insert(masterOnly_.end(), ui_.command.begin(), ui_.command.end());
    masterOnly_.insert(masterOnly_.end(), ui_.reply.begin(), ui_.reply.end());
    masterOnly_.push_back(ui_.start);
    masterOnly_.push_back(ui_.end);

    for (int i = 1; i <= PollTable::kRows; ++i)
        wireRow(i);

    answer_.command = ui_.slaveCommand->text();
    answer_.reply = ui_.slaveReply->text();
    connect(ui_.slaveCommand, &QLineEdit::textChanged, this,
            [this](const QString& text) { answer_.command = text; });
    connect(ui_.slaveReply, &QLineEdit::textChanged, this,
            [this](const QString& text) { answer_.reply = text; });
    // The status line is a light: its background must be painted.
    ui_.slaveStatus->setAutoFillBackground(true);

    connect(ui_.start, &QPushButton::clicked, this, &PollingPage::startPolling);
    connect(ui_.end, &QPushButton::clicked, this, &PollingPage::endPolling);
    connect(master_, &MasterPoller::runningChanged, this, &PollingPage::onRunningChanged);
    connect(master_, &MasterPoller::failed, this, &PollingPage::onFailed);
    connect(master_, &MasterPoller::outcome, this, &PollingPage::showOutcome);
    connect(slave_, &SlaveResponder::outcome, this, &PollingPage::showSlaveOutcome);
    connect(slave_, &SlaveResponder::failed, this, &PollingPage::onSlaveFailed);
    connect(collector_, &MessageCollector::tooLong, this, [this] {
        // A slave's light says it; a master's cycle goes on, the message line says it.
        if (master_->isRunning())
            ui_.message->setText(
                QStringLiteral("A reply longer than %1 bytes came and was dropped.")
                    .arg(MessageCollector::kMaxMessage));
    });
    if (ctx_.settings)
        connect(ctx_.settings, &StationSettings::modeChanged, this, &PollingPage::onModeChanged);
}

PollingPage::~PollingPage() {
    // The controls may be gone already: nothing may reach them from here on.
    disconnect(master_, nullptr, this, nullptr);
    disconnect(slave_, nullptr, this, nullptr);
    // Both close the channel through the collector they share: it goes last.
    delete slave_;
    delete master_;
    delete collector_;
}

void PollingPage::wireRow(int index) {
    const auto k = size_t(index - 1);
    QCheckBox* enable = ui_.enable[k];
    QLineEdit* address = ui_.address[k];
    QLineEdit* command = ui_.command[k];

    table_.setEnabled(index, enable->isChecked());
    table_.setAddress(index, qMax(0, addressByte(address->text())));
    table_.setCommand(index, command->text());

    auto* binder = new form::EntryBinder(address, slaveAddressRange, this);
    connect(binder, &form::EntryBinder::edited, ui_.message, &QLabel::clear);
    connect(binder, &form::EntryBinder::rejected, this,
            [this, index] { ui_.message->setText(rangeMessage(index)); });
    // The box as it stands once its filter is done with it (the filter may
    // have emptied it while this change was being handled).
    connect(address, &QLineEdit::textChanged, this, [this, index, address] {
        // The filter keeps 1..255 in the box; anything else reads as 0.
        table_.setAddress(index, qMax(0, addressByte(address->text())));
    });
    connect(command, &QLineEdit::textChanged, this,
            [this, index, command] { table_.setCommand(index, command->text()); });
    connect(enable, &QCheckBox::toggled, this, [this, index, address, command](bool checked) {
        table_.setEnabled(index, checked);
        if (checked)
            return;
        // Unchecking empties the row and leaves no message behind.
        address->setText(QString());
        ui_.message->clear();
        command->setText(QString());
        ui_.reply[size_t(index - 1)]->setText(QString());
    });
}

void PollingPage::startPolling() {
    if (master_->isRunning()) {
        ui_.start->setEnabled(false);
        return;
    }
    // Buttons change only once the channel is open.
    master_->start();
}

void PollingPage::endPolling() {
    master_->end();
    // End when no cycle runs still swaps the buttons.
    ui_.start->setEnabled(true);
    ui_.end->setEnabled(false);
}

void PollingPage::onRunningChanged(bool running) {
    ui_.start->setEnabled(!running);
    ui_.end->setEnabled(running);
}

void PollingPage::onModeChanged() {
    // A slave has no End button: a cycle left running could not be stopped
    // and would share the channel with the slave's answers.
    if (!ctx_.settings)
        return;
    if (!ctx_.settings->isMaster())
        master_->end();
    else
        slave_->stopListening(); // a master answers no commands
}

void PollingPage::applyMode(Mode mode) {
    const bool master = mode == Mode::Master;
    for (QWidget* w : slaveOnly_)
        w->setEnabled(!master);
    for (QWidget* w : masterOnly_)
        w->setEnabled(master);
}

void PollingPage::onTabChanged(Tab current, Tab previous) {
    const bool slave = ctx_.settings && !ctx_.settings->isMaster();
    switch (slaveChannelAction(slave, current, previous)) {
    case SlaveChannelAction::Open:
        slave_->listen();
        break;
    case SlaveChannelAction::Close:
        slave_->stopListening();
        break;
    case SlaveChannelAction::None:
        break;
    }
}

void PollingPage::tell(const QString& message) {
    if (ctx_.messenger)
        ctx_.messenger->error(message);
}

void PollingPage::onFailed(PollFailure failure, const QString& detail) {
    tell(masterFailureText(failure, detail));
}

void PollingPage::onSlaveFailed(PollFailure failure, const QString& detail) {
    tell(slaveFailureText(failure, detail));
}

void PollingPage::showOutcome(const MasterOutcome& outcome) {
    std::visit(Visitor{
                   [this](const ReplyOk& o) { showReply(o.row, Light::Green, o.text); },
                   [this](const WrongCommand& o) { showReply(o.row, Light::Red, kWrongCommand); },
                   [this](const HoldOver& o) { showReply(o.row, Light::White, QString()); },
                   // A silent slave or a stranger's reply shows nothing.
                   [](const NoReply&) {},
                   [](const UnknownSender&) {},
               },
               outcome);
}

void PollingPage::showReply(int row, Light light, const QString& text) {
    QLineEdit* box = ui_.reply[size_t(row - 1)];
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, colourOf(light));
    box->setPalette(pal);
    box->setText(text);
}

void PollingPage::showSlaveOutcome(const SlaveOutcome& outcome) {
    const auto [light, status] =
        std::visit(Visitor{
                       [](const Answered&) { return std::pair(Light::Green, kRecognised); },
                       [](const Refused&) { return std::pair(Light::Red, kRefused); },
                       [](const TooLong&) { return std::pair(Light::Red, kTooLong); },
                       [](const HoldOver&) { return std::pair(Light::White, QString()); },
                   },
                   outcome);
    QPalette pal = ui_.slaveStatus->palette();
    pal.setColor(QPalette::Window, colourOf(light));
    ui_.slaveStatus->setPalette(pal);
    ui_.slaveStatus->setText(status);
}

} // namespace rava::polling
