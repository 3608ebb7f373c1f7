#pragma once

#include "link/device_choice.h"

#include <QDialog>

class QLineEdit;
class QListWidget;

namespace rava {

// "Device for COM n": the serial devices plugged in now, and a path box for
// any other device (a pseudo-terminal, a link). The box has the focus and
// holds the entry's device when the chooser opens; picking a device puts its
// path there; Return or OK takes what the box holds.
class DeviceChooser : public QDialog {
    Q_OBJECT
public:
    DeviceChooser(const EntryDevice& current, const QList<SerialDevice>& devices,
                  QWidget* parent = nullptr);

    int port() const { return port_; }
    // What the path box holds, without surrounding blanks.
    QString path() const;

private:
    int port_;
    QListWidget* list_ = nullptr;
    QLineEdit* box_ = nullptr;
};

} // namespace rava
