#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace rava {

// One serial device plugged in now, as the system lists it.
struct SerialDevice {
    QString location;     // "/dev/ttyUSB0"
    QString stableName;   // "/dev/serial/by-id/usb-FTDI_...-if00-port0", or empty
    QString description;  // "FT232R USB UART"
    QString manufacturer; // "FTDI"
    QString serialNumber; // "A50285BI"

    // The path to choose: the stable name where there is one, since it
    // survives re-plugging and the order in which adapters appear.
    QString path() const { return stableName.isEmpty() ? location : stableName; }
};

// Gives each device the stable link that points at it. `links` pairs a
// link's path with the device it resolves to; where several links point at
// one device, the first in name order is taken.
void attachStableNames(QList<SerialDevice>& devices, const QList<QPair<QString, QString>>& links);

// Orders a list for the chooser: devices with stable names (adapters) first,
// then by location.
void sortForChoosing(QList<SerialDevice>& devices);

// One line of the chooser's list: the path to choose, the device it is now
// when that differs, then description, maker and serial number, those known.
QString deviceLine(const SerialDevice& device);

// The links in `dir` (normally /dev/serial/by-id) with what they resolve to.
QList<QPair<QString, QString>> stableLinks(const QString& dir);

// The serial devices plugged in now, with their stable names, in chooser
// order. Pseudo-terminals are never among them.
QList<SerialDevice> presentDevices();

// Whether two paths name one device (links followed).
bool sameDevice(const QString& a, const QString& b);

// Why an entry means the device it means, strongest first.
enum class DeviceOrigin { Environment, StartOption, Remembered, Default };

struct EntryDevice {
    int port = 1;
    QString path;
    DeviceOrigin origin = DeviceOrigin::Default;
    // A device chosen for the entry that the environment variable overrides.
    QString overridden;
};

// "RAVA2_COM2", "remembered choice", "--device, this start only", "default".
QString originText(const EntryDevice& entry);

// "COM 2: /dev/ttyUSB0 (remembered choice, present)": which device an entry
// means, why, and whether it is there now.
QString entryLine(const EntryDevice& entry, bool present);

// The device chosen for each COM entry. A choice made in the window is
// remembered for the user (QSettings); one given on the command line holds
// for this start only. RAVA2_COMn, when set, overrides both. Channels ask at
// each open, so a choice reaches every channel of the entry at once while an
// open channel keeps its device until it closes.
class DeviceChoices {
public:
    static DeviceChoices& instance();

    EntryDevice resolve(int port) const;
    // The remembered choice of an entry, or empty.
    QString remembered(int port) const;
    // Whether the entry has a choice of its own (remembered or for this start).
    bool hasChoice(int port) const;

    // Remembers `path` for the entry; it replaces a choice for this start.
    void choose(int port, const QString& path);
    // Back to the platform's device: the remembered choice and the one for
    // this start are both dropped.
    void forget(int port);
    void setForThisStart(int port, const QString& path);
    void clearStartChoices();

private:
    DeviceChoices() = default;
    QString startChoice_[5];
};

} // namespace rava
