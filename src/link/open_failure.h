#pragma once

#include "device_choice.h"

#include <QStringList>
#include <QtSerialPort/QSerialPort>

namespace rava {

// What the system says about a device that could not be opened, gathered
// right after the failure.
struct DeviceFacts {
    bool exists = false;
    bool accessible = false; // this user may read and write it
    QString group;           // the group that owns the device node
    // The user is a member of `group` in the group database, but this login
    // started before and does not carry it yet.
    bool groupAfterLogin = false;
    QStringList holders;               // "minicom (process 1234)"
    QList<EntryDevice> presentEntries; // COM entries whose device is there
    QList<SerialDevice> plugged;       // serial devices plugged in now
};

DeviceFacts inspectDevice(const QString& path);

// The other programs that have `path` open ("name (process N)"), from the
// descriptors under /proc this user may read and from a UUCP lock file.
QStringList holdersOf(const QString& path);

// The sentence for a failed open of `entry`'s device: what happened and
// what cures it (the group to join and how, the program to close, the
// entries and devices that are there).
QString openFailureText(const EntryDevice& entry, QSerialPort::SerialPortError error,
                        const QString& systemText, const DeviceFacts& facts);

// The same with the entry resolved and the facts gathered now.
QString openFailureText(int port, const QString& path, QSerialPort::SerialPortError error,
                        const QString& systemText);

} // namespace rava
