// The window as created: controls inside their holders and apart, captions
// not cut off, and the user guide text.
#include "main_window/user_guide.h"
#include "window_helpers.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace rava;

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
            for (QWidget* w : holder->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (w->objectName().isEmpty())
                    continue;
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
                    faults << label->objectName();
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                const QFontMetrics fm(button->font());
                const int extra = qobject_cast<QPushButton*>(w) ? 4 : 18; // box or circle
                if (fm.horizontalAdvance(button->text()) + extra > button->width())
                    faults << button->objectName();
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    // Lines end in CR LF, the jumper table's columns line up, and the help
    // page shows the guide line for line.
    void userGuide() {
        const QStringList lines = userGuideText().split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 27);
        QCOMPARE(userGuideText().count(QLatin1Char('\n')), 26);
        QCOMPARE(lines[0], QStringLiteral("USER GUIDE:"));
        QCOMPARE(lines[7], QStringLiteral("     J1             J2              Baud Rate"));
        QCOMPARE(lines[10], QStringLiteral("     Open        Closed        19200"));
        QCOMPARE(lines[12], QStringLiteral("     Closed      Closed        115200"));
        QCOMPARE(get<QPlainTextEdit>("Text3")->toPlainText().split(QLatin1Char('\n')), lines);
    }
};

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
