#include "register_page.h"

#include "form/controls.h"
#include "form/entry_binder.h"
#include "form/messenger.h"
#include "link/station_link.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace rava::registers {

RegisterControls RegisterControls::resolve(QWidget* form) {
    using form::require;
    return {require<QLineEdit>(form, "Text5"),       require<QPushButton>(form, "Command16"),
            require<QPushButton>(form, "Command17"), require<QLineEdit>(form, "Text7"),
            require<QPushButton>(form, "Command18"), require<QPushButton>(form, "Command19"),
            require<QLabel>(form, "Label17")};
}

RegisterPage::RegisterPage(const StationContext& ctx, QWidget* form, QObject* parent)
    : RegisterPage(ctx, form, ctx.link->programmingChannel(), Timings(), parent) {}

RegisterPage::RegisterPage(const StationContext& ctx, QWidget* form, Channel& channel,
                           Timings timings, QObject* parent)
    : QObject(parent), ctx_(ctx), ui_(RegisterControls::resolve(form)),
      programmer_(new RegisterProgrammer(channel, timings, this)),
      addressEntry_(new form::EntryBinder(ui_.address, form::EntryBinder::byteRange, this)),
      parityEntry_(new form::EntryBinder(ui_.parity, parityAccepts, this)) {
    // Every edit of either box clears the last outcome.
    connect(addressEntry_, &form::EntryBinder::edited, this, &RegisterPage::clearStatus);
    connect(parityEntry_, &form::EntryBinder::edited, this, &RegisterPage::clearStatus);

    connect(ui_.readAddress, &QPushButton::clicked, this, [this] { run(Operation::ReadAddress); });
    connect(ui_.writeAddress, &QPushButton::clicked, this,
            [this] { run(Operation::WriteAddress); });
    connect(ui_.readParity, &QPushButton::clicked, this, [this] { run(Operation::ReadParity); });
    connect(ui_.writeParity, &QPushButton::clicked, this, [this] { run(Operation::WriteParity); });

    connect(programmer_, &RegisterProgrammer::busyChanged, this, &RegisterPage::onBusy);
    connect(programmer_, &RegisterProgrammer::finished, this, &RegisterPage::onFinished);
}

RegisterPage::~RegisterPage() = default;

void RegisterPage::run(Operation operation) {
    // The buttons are disabled while an operation runs; a click that still
    // gets here (queued before the disabling) changes nothing.
    if (programmer_->isBusy())
        return;
    clearStatus();
    double requested = 0;
    if (operation == Operation::WriteAddress)
        requested = addressEntry_->value();
    else if (operation == Operation::WriteParity)
        requested = parityEntry_->value();
    programmer_->start(operation, requested);
}

void RegisterPage::onBusy(bool busy) {
    for (QPushButton* button : {ui_.readAddress, ui_.writeAddress, ui_.readParity, ui_.writeParity})
        button->setEnabled(!busy);
}

void RegisterPage::onFinished(const Outcome& outcome) {
    ui_.status->setText(statusText(outcome));
    // The status line has room for one short sentence; why the port could
    // not be used goes into a message that names the port and the device,
    // worded as on every other page.
    if (!ctx_.messenger)
        return;
    const QString message = failureMessage(outcome);
    if (!message.isEmpty())
        ctx_.messenger->error(message);
}

void RegisterPage::clearStatus() {
    ui_.status->setText(QString());
}

} // namespace rava::registers
