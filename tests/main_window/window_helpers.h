#pragma once

#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "support/recording.h"

#include <QStringList>
#include <QTabBar>
#include <QtTest>
#include <memory>

namespace rava::test {

// Shared set-up of the window tests: a shown window whose messages are kept.
class WindowTest : public QObject {
protected:
    void start() {
        messages = RecordingMessenger();
        window = std::make_unique<MainWindow>();
        window->setMessenger(&messages);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    template <typename T = QWidget> T* get(const QString& name) const {
        T* w = window->findChild<T*>(name);
        if (!w)
            qFatal("no control %s of the expected kind", qPrintable(name));
        return w;
    }

    // Clicks a button-like control in its middle.
    void click(const char* name) {
        QWidget* w = get(name);
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    }

    // Chooses a tab the way the user does: a click on it.
    void clickTab(Tab tab) {
        QTabBar* bar = window->tabStrip()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(int(tab)).center());
    }
    Tab currentTab() const { return Tab(window->tabStrip()->currentIndex()); }

    std::unique_ptr<MainWindow> window;
    RecordingMessenger messages;
};

} // namespace rava::test
