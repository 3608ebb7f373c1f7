#include "port_menu.h"

#include "device_chooser.h"
#include "link/device_map.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>

namespace rava {

namespace {

const QKeySequence kChooseKey(Qt::CTRL | Qt::Key_D);

QString describeEntry(int port) {
    const EntryDevice entry = DeviceChoices::instance().resolve(port);
    return entryLine(entry, QFileInfo::exists(entry.path));
}

} // namespace

QString portListTip() {
    QStringList lines;
    for (int port = 1; port <= 4; ++port)
        lines << describeEntry(port);
    lines << QStringLiteral("Right-click (or Ctrl+D) chooses the device of the entry shown.");
    return lines.join(QLatin1Char('\n'));
}

PortMenu::PortMenu(QComboBox* list, QWidget* dialogParent)
    : QObject(list), list_(list), dialogParent_(dialogParent), lister_(presentDevices) {
    setObjectName(QStringLiteral("PortMenu"));
    list_->setToolTip(portListTip());
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showMenu(list_->mapToGlobal(pos)); });
    list_->installEventFilter(this);
}

void PortMenu::setLister(Lister lister) {
    lister_ = lister ? std::move(lister) : Lister(presentDevices);
}

int PortMenu::shownPort() const {
    return qBound(1, list_->currentIndex() + 1, 4);
}

bool PortMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::ToolTip) {
        list_->setToolTip(portListTip());
    } else if (watched == list_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (QKeySequence(key->keyCombination()) == kChooseKey) {
            openChooser();
            return true;
        }
    }
    return false;
}

void PortMenu::showMenu(const QPoint& globalPos) {
    const int port = shownPort();
    devices_ = lister_();
    const EntryDevice current = DeviceChoices::instance().resolve(port);

    auto* menu = new QMenu(list_);
    menu->setObjectName(QStringLiteral("PortListMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setToolTipsVisible(true);
    for (int p = 1; p <= 4; ++p) {
        QAction* line = menu->addAction(describeEntry(p));
        line->setEnabled(false);
        if (p == port) {
            QFont bold = line->font();
            bold.setBold(true);
            line->setFont(bold);
        }
    }
    menu->addSeparator();
    if (devices_.isEmpty())
        menu->addAction(QStringLiteral("No serial adapter is plugged in now"))->setEnabled(false);
    for (const SerialDevice& device : devices_) {
        QAction* use = menu->addAction(
            QStringLiteral("Use for %1: %2").arg(portLabel(port), deviceLine(device)));
        use->setObjectName(QStringLiteral("UseDevice"));
        use->setCheckable(true);
        use->setChecked(sameDevice(device.path(), current.path));
        const QString path = device.path();
        connect(use, &QAction::triggered, this, [this, port, path] { apply(port, path); });
    }
    menu->addSeparator();
    QAction* choose =
        menu->addAction(QStringLiteral("Choose device for %1...").arg(portLabel(port)));
    choose->setObjectName(QStringLiteral("ChooseDevice"));
    choose->setShortcut(kChooseKey); // shown in the menu; the list itself takes the key
    choose->setShortcutContext(Qt::WidgetShortcut);
    choose->setShortcutVisibleInContextMenu(true);
    connect(choose, &QAction::triggered, this, [this, port] { chooserFor(port); });
    QAction* forgetting = menu->addAction(QStringLiteral("Forget"));
    forgetting->setObjectName(QStringLiteral("ForgetDevice"));
    forgetting->setToolTip(
        QStringLiteral("%1 goes back to %2").arg(portLabel(port), defaultDevice(port)));
    forgetting->setEnabled(DeviceChoices::instance().hasChoice(port));
    connect(forgetting, &QAction::triggered, this, [this, port] { forget(port); });
    menu->popup(globalPos);
}

void PortMenu::openChooser() {
    devices_ = lister_();
    chooserFor(shownPort());
}

void PortMenu::chooserFor(int port) {
    auto* chooser =
        new DeviceChooser(DeviceChoices::instance().resolve(port), devices_, dialogParent_);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser, &QDialog::accepted, this,
            [this, chooser] { apply(chooser->port(), chooser->path()); });
    chooser->open();
}

void PortMenu::apply(int port, const QString& path) {
    DeviceChoices::instance().choose(port, path);
    list_->setToolTip(portListTip());
}

void PortMenu::forget(int port) {
    DeviceChoices::instance().forget(port);
    list_->setToolTip(portListTip());
}

} // namespace rava
