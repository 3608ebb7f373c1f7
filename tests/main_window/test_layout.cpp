// The window as created: its controls and their kinds, a sample of places,
// the tab strip, and the user guide text.
#include "main_window/user_guide.h"
#include "window_helpers.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <tuple>

using namespace rava;

namespace {

QRect pixels(int left, int top, int width, int height) {
    auto px = [](int twips) { return qRound(twips / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

class LayoutTest : public test::WindowTest {
    Q_OBJECT
private slots:
    void init() { start(); }
    void cleanup() { window.reset(); }

    void everyControlExistsOnceWithItsKind() {
        QList<QPair<QString, const char*>> all;
        auto series = [&all](const char* cls, const char* stem, int last) {
            for (int i = 1; i <= last; ++i)
                all.append({QLatin1String(stem) + QString::number(i), cls});
        };
        series("QLabel", "Label", 26);
        series("QLabel", "Image", 4);
        series("QGroupBox", "Frame", 13);
        series("QPushButton", "Command", 20);
        series("QComboBox", "Combo", 2);
        series("QRadioButton", "Option", 2);
        series("QProgressBar", "ProgressBar", 2);
        series("QPlainTextEdit", "Text", 3);
        series("QCheckBox", "Check1_", 5);
        for (const char* stem : {"Text4_", "Text14_", "Text19_"})
            series("QLineEdit", stem, 5);
        for (const char* n : {"Text5", "Text7", "Text8", "Text9", "Text12", "Text24", "Text25"})
            all.append({QLatin1String(n), "QLineEdit"});
        for (const auto& [name, cls] : all) {
            const QList<QWidget*> found = window->findChildren<QWidget*>(name);
            QVERIFY2(found.size() == 1, qPrintable(name));
            QVERIFY2(found.first()->inherits(cls), qPrintable(name));
        }
        QCOMPARE(window->objectName(), QStringLiteral("Form1"));
        QVERIFY(get<TabStrip>("SSTab1"));
    }

    // Twips to pixels, relative to the window (right column), to the strip
    // (a page's own control) or to the frame a control sits in.
    void placesFollowTheTwipsRule() {
        const std::tuple<const char*, const char*, QRect> rows[] = {
            {"Command1", "Form1", pixels(10440, 8040, 1215, 375)},
            {"Command4", "SSTab1", pixels(6480, 1800, 1335, 495)},
            {"Combo2", "Frame2", pixels(2640, 520, 2175, 360)},
            {"Text19_5", "Frame9", pixels(5280, 3170, 1935, 360)}};
        for (const auto& [name, relativeTo, rect] : rows) {
            QWidget* w = get(name);
            QWidget* base = window->objectName() == relativeTo ? window.get() : get(relativeTo);
            QVERIFY2(w && base && base->isAncestorOf(w), name);
            QCOMPARE(QRect(w->mapTo(base, QPoint(0, 0)), w->size()), rect);
        }
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
