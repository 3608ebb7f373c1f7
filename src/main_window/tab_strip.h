#pragma once

#include <QTabBar>
#include <QWidget>

class QStackedWidget;

namespace rava {

// A tab bar whose tabs share the strip's width equally and wrap their
// captions onto a second line when they need it.
class StripTabBar : public QTabBar {
    Q_OBJECT
public:
    StripTabBar(int tabHeight, QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
    void paintEvent(QPaintEvent* event) override;

private:
    int tabHeight_;
};

// The window's tab strip: one row of tabs over a stack of pages. Each page
// covers the whole strip, so coordinates on a page start at the strip's
// top-left corner, tab row included; the tab row lies above the pages.
class TabStrip : public QWidget {
    Q_OBJECT
public:
    TabStrip(int tabHeight, QWidget* parent = nullptr);

    // Appends a tab and returns its empty page.
    QWidget* addPage(const QString& caption);
    QWidget* page(int index) const;
    int count() const;

    int currentIndex() const { return current_; }
    // Makes `index` current; a change reports current and previous index.
    void setCurrentIndex(int index);

    // A disabled tab cannot be chosen by the user.
    void setTabEnabled(int index, bool enabled);
    bool isTabEnabled(int index) const;

    QTabBar* tabBar() const { return bar_; }

    // The next enabled tab `step` places on (+1 right, -1 left), wrapping
    // round; Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDown and Ctrl+PgUp do this.
    void moveBy(int step);

signals:
    void currentChanged(int current, int previous);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void onBarChanged(int index);
    // Pages cover the whole strip; the row of tabs lies on top.
    void arrange();

    StripTabBar* bar_;
    QStackedWidget* stack_;
    int tabHeight_;
    int current_ = -1;
};

} // namespace rava
