#include "polling_page.h"

#include "form/controls.h"
#include "form/entry_binder.h"
#include "link/channel.h"
#include "link/device_words.h"
#include "link/messenger.h"
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
} // namespace

QColor colourOf(Light light) {
    const auto value = static_cast<quint32>(light);
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
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
    return c;
}

PollingPage::PollingPage(const StationContext& ctx, QWidget* form, QObject* parent)
    : PollingPage(ctx, form, ctx.link->pollingChannel(), PollTimings(), parent) {}

PollingPage::PollingPage(const StationContext& ctx, QWidget* form, Channel& channel,
                         const PollTimings& timings, QObject* parent)
    : QObject(parent), ctx_(ctx), ui_(PollingControls::resolve(form)), channel_(&channel),
      collector_(new MessageCollector(channel, this)),
      master_(new MasterPoller(channel, *collector_, table_, this)),
      slave_(new SlaveResponder(channel, *collector_, answer_, this)) {
    collector_->setSilence(timings.silenceMs);
    master_->setPause(timings.pauseMs);
    master_->setHold(timings.holdMs);
    slave_->setHold(timings.holdMs);

    for (int i = 1; i <= PollTable::kRows; ++i)
        wireRow(i);
    connect(&table_, &PollTable::replyChanged, this, &PollingPage::showReply);

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
    connect(slave_, &SlaveResponder::lightChanged, this, &PollingPage::showSlaveLight);
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
    disconnect(&table_, nullptr, this, nullptr);
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
    table_.setAddress(index, address->text());
    table_.setCommand(index, command->text());

    auto* binder = new form::EntryBinder(address, slaveAddressRange, this);
    connect(binder, &form::EntryBinder::edited, ui_.message, &QLabel::clear);
    connect(binder, &form::EntryBinder::rejected, this,
            [this, index] { ui_.message->setText(rangeMessage(index)); });
    // The box as it stands once its filter is done with it (the filter may
    // have emptied it while this change was being handled).
    connect(address, &QLineEdit::textChanged, this,
            [this, index, address] { table_.setAddress(index, address->text()); });
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
        table_.clearReplyText(index);
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
    tell(masterFailureText(failure, detail, channel_));
}

void PollingPage::onSlaveFailed(PollFailure failure, const QString& detail) {
    tell(slaveFailureText(failure, detail, channel_));
}

void PollingPage::showReply(int index) {
    const PollRow& row = table_.row(index);
    QLineEdit* box = ui_.reply[size_t(index - 1)];
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, colourOf(row.light));
    box->setPalette(pal);
    box->setText(row.reply);
}

void PollingPage::showSlaveLight(Light light, const QString& status) {
    QPalette pal = ui_.slaveStatus->palette();
    pal.setColor(QPalette::Window, colourOf(light));
    ui_.slaveStatus->setPalette(pal);
    ui_.slaveStatus->setText(status);
}

} // namespace rava::polling
