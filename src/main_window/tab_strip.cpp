#include "tab_strip.h"

#include <QKeySequence>
#include <QPainter>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <qdrawutil.h>

namespace rava {

StripTabBar::StripTabBar(int tabHeight, QWidget* parent) : QTabBar(parent), tabHeight_(tabHeight) {
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setDrawBase(false);
}

QSize StripTabBar::tabSizeHint(int index) const {
    const int n = count();
    const int total = parentWidget() ? parentWidget()->width() : width();
    if (n == 0 || total <= 0)
        return QSize(0, tabHeight_);
    // The last tab takes what the division leaves over.
    const int each = total / n;
    const int w = index == n - 1 ? total - each * (n - 1) : each;
    return QSize(w, tabHeight_);
}

void StripTabBar::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    const int cur = currentIndex();
    auto paintTab = [&](int i) {
        QStyleOptionTab opt;
        initStyleOption(&opt, i);
        const QString text = opt.text;
        opt.text.clear();
        p.drawControl(QStyle::CE_TabBarTabShape, opt);
        const QPalette::ColorGroup group = isTabEnabled(i) ? QPalette::Active : QPalette::Disabled;
        p.setPen(palette().color(group, QPalette::WindowText));
        p.drawText(opt.rect.adjusted(3, 2, -3, -1), Qt::AlignCenter | Qt::TextWordWrap, text);
    };
    for (int i = 0; i < count(); ++i)
        if (i != cur)
            paintTab(i);
    if (cur >= 0)
        paintTab(cur); // the current tab overlaps its neighbours
}

TabStrip::TabStrip(int tabHeight, QWidget* parent)
    : QWidget(parent), bar_(new StripTabBar(tabHeight, this)), stack_(new QStackedWidget(this)),
      tabHeight_(tabHeight) {
    setAutoFillBackground(true);
    bar_->raise();
    connect(bar_, &QTabBar::currentChanged, this, &TabStrip::onBarChanged);
    // The keys every tabbed window knows, for the window as a whole.
    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto& [key, step] : keys) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] { moveBy(step); });
    }
}

void TabStrip::moveBy(int step) {
    const int n = count();
    for (int i = 1; i < n; ++i) {
        const int next = ((current_ + step * i) % n + n) % n;
        if (isTabEnabled(next)) {
            setCurrentIndex(next);
            return;
        }
    }
}

QWidget* TabStrip::addPage(const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("SSTab1Page%1").arg(stack_->count()));
    stack_->addWidget(page);
    bar_->addTab(caption);
    arrange();
    return page;
}

QWidget* TabStrip::page(int index) const {
    return stack_->widget(index);
}

int TabStrip::count() const {
    return bar_->count();
}

void TabStrip::setCurrentIndex(int index) {
    if (index >= 0 && index < count())
        bar_->setCurrentIndex(index);
}

void TabStrip::setTabEnabled(int index, bool enabled) {
    bar_->setTabEnabled(index, enabled);
}

bool TabStrip::isTabEnabled(int index) const {
    return bar_->isTabEnabled(index);
}

void TabStrip::onBarChanged(int index) {
    if (index == current_)
        return;
    const int previous = current_;
    current_ = index;
    stack_->setCurrentIndex(index);
    if (previous >= 0 && index >= 0)
        emit currentChanged(index, previous);
}

void TabStrip::resizeEvent(QResizeEvent*) {
    arrange();
}

void TabStrip::arrange() {
    stack_->setGeometry(rect());
    bar_->setGeometry(0, 0, width(), tabHeight_);
    bar_->raise();
}

void TabStrip::paintEvent(QPaintEvent*) {
    // The page area in the strip's own colour, with a raised edge, under the
    // row of tabs.
    QPainter p(this);
    qDrawShadePanel(&p, QRect(0, tabHeight_ - 1, width(), height() - tabHeight_ + 1), palette(),
                    false, 1);
}

} // namespace rava
