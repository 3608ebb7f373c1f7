#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace rava {

class Messenger;
class StationLink;

// What the window hands each feature page: the station's channels and
// settings, the way to tell the user something, and the few window services a
// page needs. Pages find their controls under `form` by object name.
struct StationContext {
    QWidget* form = nullptr;
    StationLink* link = nullptr;
    Messenger* messenger = nullptr;
    // The operating mode and remote address, read at the moment of use.
    std::function<bool()> isMaster;
    std::function<int()> remoteAddress;
    // locked = true: every tab but `keep` is disabled; false: all enabled.
    std::function<void(int keep, bool locked)> lockTabs;
    // Shows a file-open dialog; returns the chosen path, empty if cancelled.
    std::function<QString(const QString& title, const QString& filter)> chooseFile;
};

} // namespace rava
