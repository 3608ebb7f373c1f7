#pragma once

#include "form/controls.h"
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "support/recording.h"

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
        return form::require<T>(window.get(), name);
    }
    // A click in the middle of a control, or on a tab, as the user makes it.
    void click(const QString& name) {
        QTest::mouseClick(get(name), Qt::LeftButton, {}, get(name)->rect().center());
    }
    void clickTab(Tab tab) {
        QTabBar* bar = window->tabStrip()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(int(tab)).center());
    }
    Tab currentTab() const { return Tab(window->tabStrip()->currentIndex()); }

    std::unique_ptr<MainWindow> window;
    RecordingMessenger messages;
};

} // namespace rava::test
