#pragma once

#include "link/station_link.h"
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "support/recording.h"

#include <QtTest>
#include <memory>

namespace rava::test {

// One station: a whole window on the device given as COM 1, whose messages
// are kept instead of shown.
struct WindowStation {
    RecordingMessenger messages;
    std::unique_ptr<MainWindow> win;

    explicit WindowStation(const QString& com1) {
        qputenv("RAVA2_COM1", com1.toLocal8Bit());
        win = std::make_unique<MainWindow>();
        win->setMessenger(&messages);
    }
    template <typename T = QWidget> T* at(const char* name) const {
        T* w = win->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char* name) const { QTest::mouseClick(at(name), Qt::LeftButton); }
    QString text(const char* name) const { return at(name)->property("text").toString(); }
    bool allTabsEnabled() const {
        for (int i = 0; i < win->tabStrip()->count(); ++i)
            if (!win->tabStrip()->isTabEnabled(i))
                return false;
        return true;
    }
    bool channelsClosed() const {
        StationLink& l = win->link();
        return !l.textChannel().isOpen() && !l.imageChannel().isOpen() &&
               !l.pollingChannel().isOpen() && !l.programmingChannel().isOpen();
    }
};

} // namespace rava::test
