#pragma once

#include "link/device_choice.h"

#include <QObject>
#include <functional>

class QComboBox;
class QPoint;
class QWidget;

namespace rava {

// The port list's tooltip: the device behind each entry, why (RAVA2_COMn,
// --device, remembered choice or default) and whether it is there now.
QString portListTip();

// The devices behind the port list's entries, from the list itself: a
// context menu that says what each entry means, offers the devices plugged
// in now (read as the menu opens), the chooser and "Forget"; Ctrl+D while the
// list has the focus opens the chooser for the entry shown. The tooltip is
// read afresh each time it shows.
class PortMenu : public QObject {
    Q_OBJECT
public:
    using Lister = std::function<QList<SerialDevice>()>;

    PortMenu(QComboBox* list, QWidget* dialogParent);

    // Replaces where the plugged-in devices come from (presentDevices()).
    void setLister(Lister lister);

    // The entry shown in the list, 1..4.
    int shownPort() const;

    void showMenu(const QPoint& globalPos);
    // Opens "Device for COM n" for the entry shown, with the devices read now.
    void openChooser();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooserFor(int port);
    void apply(int port, const QString& path);
    void forget(int port);

    QComboBox* list_;
    QWidget* dialogParent_;
    Lister lister_;
    QList<SerialDevice> devices_; // as read when the menu or the chooser opened
};

} // namespace rava
