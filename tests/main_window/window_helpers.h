#pragma once

#include "main_window/main_window.h"
#include "main_window/tab_strip.h"

#include <QStringList>
#include <QTabBar>
#include <QtTest>

namespace rava::test {

// Keeps every message instead of showing a box.
class RecordingMessenger : public Messenger {
public:
    void error(const QString& text) override { errors << text; }
    void info(const QString& title, const QString& text) override {
        infoTitles << title;
        infoTexts << text;
    }
    QStringList errors;
    QStringList infoTitles;
    QStringList infoTexts;
};

template <typename T> T* child(const QWidget* window, const QString& name) {
    T* w = window->findChild<T*>(name);
    if (!w)
        qWarning("no control %s of the expected kind", qPrintable(name));
    return w;
}
template <typename T> T* child(const QWidget* window, const char* name) {
    return child<T>(window, QString::fromLatin1(name));
}

// Chooses a tab the way the user does: a click on it.
inline void clickTab(MainWindow& window, int index) {
    QTabBar* bar = window.tabStrip()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
}

// Clicks a button-like control in its middle.
inline void clickControl(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

} // namespace rava::test
