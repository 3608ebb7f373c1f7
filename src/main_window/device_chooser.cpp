#include "device_chooser.h"

#include "link/device_map.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace rava {

DeviceChooser::DeviceChooser(const EntryDevice& current, const QList<SerialDevice>& devices,
                             QWidget* parent)
    : QDialog(parent), port_(current.port) {
    setObjectName(QStringLiteral("DeviceChooser"));
    setWindowTitle(QStringLiteral("Device for %1").arg(portLabel(port_)));
    auto* column = new QVBoxLayout(this);

    auto* heading =
        new QLabel(devices.isEmpty() ? QStringLiteral("No serial adapter is plugged in now.")
                                     : QStringLiteral("Serial devices plugged in now:"),
                   this);
    column->addWidget(heading);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("DeviceList"));
    for (const SerialDevice& device : devices) {
        auto* item = new QListWidgetItem(deviceLine(device), list_);
        item->setData(Qt::UserRole, device.path());
        item->setToolTip(deviceLine(device));
        if (sameDevice(device.path(), current.path))
            list_->setCurrentItem(item);
    }
    list_->setVisible(!devices.isEmpty());
    list_->setMinimumWidth(640);
    column->addWidget(list_);

    auto* label = new QLabel(QStringLiteral("Device path (any device, a pseudo-terminal or a "
                                            "link):"),
                             this);
    column->addWidget(label);
    box_ = new QLineEdit(current.path, this);
    box_->setObjectName(QStringLiteral("DevicePath"));
    box_->selectAll();
    label->setBuddy(box_);
    column->addWidget(box_);

    if (current.origin == DeviceOrigin::Environment) {
        auto* note = new QLabel(QStringLiteral("%1 is set: it names the device of %2 until it is "
                                               "unset; the choice made here applies after that.")
                                    .arg(portVariable(port_), portLabel(port_)),
                                this);
        note->setWordWrap(true);
        column->addWidget(note);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setDefault(true);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(box_, &QLineEdit::textChanged, ok,
            [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    ok->setEnabled(!path().isEmpty());
    connect(list_, &QListWidget::currentItemChanged, box_, [this](QListWidgetItem* item) {
        if (item)
            box_->setText(item->data(Qt::UserRole).toString());
    });
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        box_->setText(item->data(Qt::UserRole).toString());
        accept();
    });
    box_->setFocus();
}

QString DeviceChooser::path() const {
    return box_->text().trimmed();
}

} // namespace rava
