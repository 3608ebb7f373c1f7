// The window as created: its controls and their kinds, a sample of places,
// the tab strip, and the user guide text.
#include "main_window/user_guide.h"
#include "window_helpers.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <tuple>

using namespace rava;

namespace {

// The named controls placed directly on `holder`.
QList<QWidget*> named(QWidget* holder) {
    QList<QWidget*> kids;
    for (QWidget* w : holder->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!w->objectName().isEmpty())
            kids << w;
    return kids;
}

} // namespace

class LayoutTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void init() { start(); }
    void cleanup() { window.reset(); }

    // Every control of a page lies inside what holds it (its frame, or the
    // strip below the tab row) and no two controls that take input or draw a
    // box overlap (labels are transparent and may reach under a neighbour).
    void controlsStayInsideAndApart() {
        TabStrip* strip = window->tabStrip();
        const int tabRow = strip->tabBar()->height();
        QStringList faults;
        auto check = [&](QWidget* holder, const QRect& room) {
            QList<QWidget*> solid;
            for (QWidget* w : named(holder)) {
                if (!room.contains(w->geometry()))
                    faults << w->objectName() + " outside " + holder->objectName();
                if (!qobject_cast<QLabel*>(w))
                    solid << w;
            }
            for (int a = 0; a < solid.size(); ++a)
                for (int b = a + 1; b < solid.size(); ++b)
                    if (solid[a]->geometry().intersects(solid[b]->geometry()))
                        faults << solid[a]->objectName() + " overlaps " + solid[b]->objectName();
        };
        for (int t = 0; t < kTabCount; ++t) {
            check(strip->page(t), strip->rect().adjusted(0, tabRow, 0, 0));
            for (QWidget* frame : strip->page(t)->findChildren<QGroupBox*>())
                check(frame, frame->rect());
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    // A caption is never cut off by its control: button captions fit the
    // width, label captions fit the height (the descent of the last line
    // aside, where no letter of these captions reaches).
    void captionsFitTheirControls() {
        QStringList faults;
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->objectName().isEmpty())
                continue;
            if (auto* label = qobject_cast<QLabel*>(w)) {
                if (label->text().isEmpty() || !label->pixmap().isNull())
                    continue;
                const int need = label->wordWrap() ? label->heightForWidth(label->width())
                                                   : label->sizeHint().height();
                if (need - QFontMetrics(label->font()).descent() > label->height())
                    faults << QStringLiteral("%1 needs %2 px, has %3")
                                  .arg(label->objectName())
                                  .arg(need)
                                  .arg(label->height());
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                const QFontMetrics fm(button->font());
                const int extra = qobject_cast<QPushButton*>(w) ? 4 : 18; // box or circle
                const int need = fm.horizontalAdvance(button->text()) + extra;
                if (need > button->width())
                    faults << QStringLiteral("%1 needs %2 px, has %3")
                                  .arg(button->objectName())
                                  .arg(need)
                                  .arg(button->width());
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    void windowAndTabRow() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Rava 2 Demo 1.2"));
        QCOMPARE(window->minimumSize(), QSize(794, 575));
        QCOMPARE(window->maximumSize(), QSize(794, 575));
        TabStrip* strip = window->tabStrip();
        QTabBar* bar = strip->tabBar();
        QCOMPARE(bar->count(), 7);
        QCOMPARE(bar->tabText(5), QStringLiteral("Polling"));
        // One row, within the strip, painted over the pages.
        QCOMPARE(bar->tabRect(6).top(), bar->tabRect(0).top());
        QVERIFY(bar->tabRect(6).right() < strip->width());
        QVERIFY(strip->page(0)->geometry().contains(QPoint(10, 10)));
        QCOMPARE(strip->childAt(QPoint(10, 10)), static_cast<QWidget*>(bar));
        // A label in a bold frame keeps the window's plain font.
        QVERIFY(get("Frame2")->font().bold());
        QVERIFY(!get("Label4")->font().bold());
        QVERIFY(!get<QLabel>("Image1")->pixmap().isNull());
        QVERIFY(!get<QLabel>("Image4")->pixmap().isNull());
    }

    void onlyTheCurrentPageIsShown() {
        QVERIFY(get("Combo1")->isVisible() && !get("Command4")->isVisible());
        clickTab(Tab::SendText);
        QCOMPARE(currentTab(), Tab::SendText);
        QVERIFY(get("Command4")->isVisible() && !get("Combo1")->isVisible());
        // The right column stays whatever the tab.
        QVERIFY(get("Command2")->isVisible() && get("Image4")->isVisible());
    }

    void userGuideIsExact() {
        const QString guide = userGuideText();
        const QStringList lines = guide.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 27);
        QCOMPARE(guide.count(QLatin1Char('\r')), 26);
        QCOMPARE(guide.count(QLatin1Char('\n')), 26);
        QCOMPARE(lines[0], QStringLiteral("USER GUIDE:"));
        const QString b = QStringLiteral(" ");
        QCOMPARE(lines[7],
                 b.repeated(5) + "J1" + b.repeated(13) + "J2" + b.repeated(14) + "Baud Rate");
        QCOMPARE(lines[9],
                 b.repeated(5) + "Open" + b.repeated(8) + "Open" + b.repeated(10) + "9600");
        QCOMPARE(lines[10],
                 b.repeated(5) + "Open" + b.repeated(8) + "Closed" + b.repeated(8) + "19200");
        QCOMPARE(lines[11],
                 b.repeated(5) + "Closed" + b.repeated(6) + "Open" + b.repeated(10) + "57600");
        QCOMPARE(lines[12],
                 b.repeated(5) + "Closed" + b.repeated(6) + "Closed" + b.repeated(8) + "115200");
        for (int empty : {1, 5, 6, 8, 13, 14, 16, 19, 21, 23})
            QVERIFY2(lines[empty].isEmpty(), qPrintable(QString::number(empty + 1)));
        QVERIFY(lines[26].startsWith(QLatin1String("When the slave receives the command,")));
        QVERIFY(
            lines[26].endsWith(QLatin1String(" the valid reply is indicated with a green light.")));
        // The help page shows it line for line.
        QCOMPARE(get<QPlainTextEdit>("Text3")->toPlainText().split(QLatin1Char('\n')), lines);
    }
};

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
