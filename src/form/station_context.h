#pragma once

#include <QString>
#include <functional>

namespace rava {

class Messenger;
class StationLink;
class StationSettings;

// The tabs of the tab strip, in their order.
enum class Tab { SetUp, SendText, ReceiveText, SendImage, ReceiveImage, Polling, Help };
constexpr int kTabCount = 7;

// What the window hands each feature page: the station's channels and
// settings, the way to tell the user something, and the few window services
// a page needs.
struct StationContext {
    StationLink* link = nullptr;
    StationSettings* settings = nullptr;
    Messenger* messenger = nullptr;
    // locked = true: every tab but `keep` is disabled; false: all enabled.
    std::function<void(Tab keep, bool locked)> lockTabs;
    // Shows a file-open dialog; returns the chosen path, empty if cancelled.
    std::function<QString(const QString& title, const QString& filter)> chooseFile;
};

} // namespace rava
