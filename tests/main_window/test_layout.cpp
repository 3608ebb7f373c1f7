// The window as created: every control with its kind, place, font and
// initial state, the tab strip's pages, and the user guide text.
#include "main_window/user_guide.h"
#include "window_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

using namespace rava;
using rava::test::child;

namespace {

struct Expected {
    QString name;
    const char* className;
};

// Every named control of the window and the widget class that stands for
// its kind.
QList<Expected> allControls() {
    QList<Expected> all;
    auto add = [&all](const char* cls, std::initializer_list<const char*> names) {
        for (const char* n : names)
            all.append({QString::fromLatin1(n), cls});
    };
    add("QLabel", {"Image1", "Label26", "Label1", "Label2", "Image4"});
    add("QPushButton", {"Command2", "Command1"});
    add("QGroupBox", {"Frame1", "Frame2", "Frame12", "Frame13", "Frame4", "Frame3", "Frame6",
                      "Frame5", "Frame7", "Frame8", "Frame11", "Frame9", "Frame10"});
    add("QComboBox", {"Combo1", "Combo2"});
    add("QLabel", {"Label4",  "Label5",  "Label18", "Label19", "Label16", "Label17", "Label7",
                   "Label8",  "Label9",  "Label6",  "Label12", "Label13", "Label10", "Label15",
                   "Label11", "Label14", "Label3",  "Label20", "Label21", "Label25", "Label22",
                   "Label23", "Label24", "Image2",  "Image3"});
    add("QLineEdit", {"Text5", "Text7", "Text12", "Text8", "Text9", "Text24", "Text25"});
    add("QPlainTextEdit", {"Text1", "Text2", "Text3"});
    add("QPushButton",
        {"Command16", "Command17", "Command18", "Command19", "Command3", "Command4", "Command9",
         "Command6", "Command5", "Command10", "Command7", "Command8", "Command11", "Command12",
         "Command13", "Command14", "Command15", "Command20"});
    add("QRadioButton", {"Option1", "Option2"});
    add("QProgressBar", {"ProgressBar1", "ProgressBar2"});
    for (int i = 1; i <= 5; ++i) {
        all.append({QStringLiteral("Check1_%1").arg(i), "QCheckBox"});
        all.append({QStringLiteral("Text4_%1").arg(i), "QLineEdit"});
        all.append({QStringLiteral("Text14_%1").arg(i), "QLineEdit"});
        all.append({QStringLiteral("Text19_%1").arg(i), "QLineEdit"});
    }
    return all;
}

QRect pixels(int left, int top, int width, int height) {
    auto px = [](int twips) { return qRound(twips / 15.0); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void init() { window_ = std::make_unique<MainWindow>(); }
    void cleanup() { window_.reset(); }

    void everyControlExistsOnceWithItsKind() {
        for (const Expected& e : allControls()) {
            const QList<QWidget*> found = window_->findChildren<QWidget*>(e.name);
            QVERIFY2(found.size() == 1, qPrintable(e.name));
            QVERIFY2(found.first()->inherits(e.className),
                     qPrintable(e.name + QLatin1String(" is a ") +
                                QLatin1String(found.first()->metaObject()->className())));
        }
        QCOMPARE(window_->objectName(), QStringLiteral("Form1"));
        QVERIFY(child<TabStrip>(window_.get(), "SSTab1"));
    }

    void windowIsFixedWithItsCaptionAndColour() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Rava 2 Demo 1.2"));
        QCOMPARE(window_->size(), QSize(794, 575));
        QCOMPARE(window_->minimumSize(), QSize(794, 575));
        QCOMPARE(window_->maximumSize(), QSize(794, 575));
        QCOMPARE(window_->palette().color(QPalette::Window), QColor(128, 255, 255));
        QCOMPARE(child<QWidget>(window_.get(), "SSTab1")->geometry(), pixels(240, 120, 8295, 8295));
    }

    void placesFollowTheTwipsRule_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("rect");
        // Right column: relative to the window.
        QTest::newRow("Image1") << "Image1"
                                << "Form1" << pixels(9000, 480, 2490, 720);
        QTest::newRow("Label2") << "Label2"
                                << "Form1" << pixels(8520, 3360, 3135, 975);
        QTest::newRow("Command1") << "Command1"
                                  << "Form1" << pixels(10440, 8040, 1215, 375);
        // Inside frames: relative to the frame.
        QTest::newRow("Combo2") << "Combo2"
                                << "Frame2" << pixels(2640, 520, 2175, 360);
        QTest::newRow("Text12") << "Text12"
                                << "Frame13" << pixels(2640, 960, 495, 360);
        QTest::newRow("Text8") << "Text8"
                               << "Frame6" << pixels(3960, 1150, 495, 360);
        QTest::newRow("Image3") << "Image3"
                                << "Frame8" << pixels(3360, 360, 4095, 4095);
        QTest::newRow("Label24") << "Label24"
                                 << "Frame10" << pixels(360, 1920, 4455, 375);
        // Control-array members: row i lies 600 twips below row i - 1.
        QTest::newRow("Check1(1)") << "Check1_1"
                                   << "Frame9" << pixels(360, 840, 975, 255);
        QTest::newRow("Check1(3)") << "Check1_3"
                                   << "Frame9" << pixels(360, 2040, 975, 255);
        QTest::newRow("Text4(2)") << "Text4_2"
                                  << "Frame9" << pixels(1800, 1370, 495, 360);
        QTest::newRow("Text19(5)") << "Text19_5"
                                   << "Frame9" << pixels(5280, 3170, 1935, 360);
    }

    void placesFollowTheTwipsRule() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, rect);
        auto* w = window_->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->geometry(), rect);
    }

    void pageControlsArePlacedFromTheStripCorner_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::newRow("Frame1") << "Frame1" << pixels(840, 480, 3495, 1215);
        QTest::newRow("Command4") << "Command4" << pixels(6480, 1800, 1335, 495);
        QTest::newRow("ProgressBar2") << "ProgressBar2" << pixels(360, 5640, 7680, 255);
        QTest::newRow("Frame10") << "Frame10" << pixels(360, 5400, 7695, 2655);
        QTest::newRow("Text3") << "Text3" << pixels(240, 720, 7680, 7200);
    }

    void pageControlsArePlacedFromTheStripCorner() {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QWidget* strip = window_->tabStrip();
        auto* w = window_->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(QRect(w->mapTo(strip, QPoint(0, 0)), w->size()), rect);
    }

    void tabRowHoldsSevenTabsOverThePages() {
        TabStrip* strip = window_->tabStrip();
        QTabBar* bar = strip->tabBar();
        const QStringList captions = {"Set up",     "Send Text file", "Receive Text file",
                                      "Send image", "Receive image",  "Polling",
                                      "Help"};
        QCOMPARE(bar->count(), 7);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(bar->tabText(i), captions[i]);
            QVERIFY(strip->isTabEnabled(i));
            QCOMPARE(bar->tabRect(i).top(), bar->tabRect(0).top()); // one row
        }
        QCOMPARE(bar->geometry(), QRect(0, 0, 553, 35));
        QVERIFY(bar->tabRect(6).right() < strip->width());
        QCOMPARE(bar->font().family(), QStringLiteral("Times New Roman"));
        QVERIFY(bar->font().bold() && bar->font().italic());
        // The row of tabs is painted over the pages, not under them.
        QWidget* page = strip->page(0);
        QVERIFY(page->geometry().contains(QPoint(10, 10)));
        QCOMPARE(strip->childAt(QPoint(10, 10)), static_cast<QWidget*>(bar));
    }

    void onlyTheCurrentPageIsShown() {
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QCOMPARE(window_->tabStrip()->currentIndex(), 0);
        auto visible = [this](const char* name) {
            return window_->findChild<QWidget*>(QLatin1String(name))->isVisible();
        };
        QVERIFY(visible("Frame13") && visible("Combo1"));
        QVERIFY(!visible("Command4") && !visible("Text3") && !visible("Frame9"));
        test::clickTab(*window_, 1);
        QCOMPARE(window_->tabStrip()->currentIndex(), 1);
        QVERIFY(visible("Command4") && visible("Text1"));
        QVERIFY(!visible("Combo1") && !visible("Text3"));
        test::clickTab(*window_, 6);
        QVERIFY(visible("Text3") && !visible("Command4"));
        // The right column stays whatever the tab.
        QVERIFY(visible("Command2") && visible("Image4"));
    }

    void creationState() {
        // Disabled at creation, and nothing else.
        QStringList disabled = {"Command4",  "Command5", "Command13", "Command8",
                                "Command20", "Frame10",  "Label22",   "Text24",
                                "Label23",   "Text25",   "Label24"};
        for (const Expected& e : allControls()) {
            QWidget* w = window_->findChild<QWidget*>(e.name);
            QCOMPARE(w->isEnabledTo(window_.get()), !disabled.contains(e.name));
            if (auto* box = qobject_cast<QLineEdit*>(w))
                QVERIFY2(box->text().isEmpty(), qPrintable(e.name));
            if (auto* tick = qobject_cast<QCheckBox*>(w))
                QVERIFY(!tick->isChecked());
        }
        QVERIFY(child<QRadioButton>(window_.get(), "Option1")->isChecked());
        QVERIFY(!child<QRadioButton>(window_.get(), "Option2")->isChecked());

        // Length limits and read-only boxes.
        QCOMPARE(child<QLineEdit>(window_.get(), "Text12")->maxLength(), 3);
        QCOMPARE(child<QLineEdit>(window_.get(), "Text5")->maxLength(), 3);
        QCOMPARE(child<QLineEdit>(window_.get(), "Text7")->maxLength(), 1);
        for (int i = 1; i <= 5; ++i) {
            const QString n = QString::number(i);
            QCOMPARE(child<QLineEdit>(window_.get(), "Text4_" + n)->maxLength(), 3);
            QVERIFY(child<QLineEdit>(window_.get(), "Text19_" + n)->isReadOnly());
            QVERIFY(!child<QLineEdit>(window_.get(), "Text14_" + n)->isReadOnly());
            QCOMPARE(child<QCheckBox>(window_.get(), "Check1_" + n)->text(),
                     QStringLiteral("Slave ") + QString::number(i));
        }
        QVERIFY(child<QLineEdit>(window_.get(), "Text8")->isReadOnly());
        QVERIFY(child<QLineEdit>(window_.get(), "Text9")->isReadOnly());
        QVERIFY(!child<QLineEdit>(window_.get(), "Text12")->isReadOnly());
        for (const char* name : {"Text1", "Text2", "Text3"})
            QVERIFY(child<QPlainTextEdit>(window_.get(), name)->isReadOnly());
        QVERIFY(child<QPlainTextEdit>(window_.get(), "Text1")->toPlainText().isEmpty());
        auto* help = child<QPlainTextEdit>(window_.get(), "Text3");
        QCOMPARE(help->palette().color(QPalette::Base), QColor(192, 192, 192));
        QCOMPARE(help->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(help->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        for (const char* name : {"ProgressBar1", "ProgressBar2"}) {
            auto* bar = child<QProgressBar>(window_.get(), name);
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 100);
        }
        // Status lines are empty and boxed.
        for (const char* name : {"Label17", "Label24", "Label25"}) {
            auto* line = child<QLabel>(window_.get(), name);
            QVERIFY(line->text().isEmpty());
            QVERIFY(line->frameShape() != QFrame::NoFrame);
        }
    }

    void captionsAreExact() {
        auto text = [this](const char* name) -> QString {
            QWidget* w = window_->findChild<QWidget*>(QLatin1String(name));
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                return b->text();
            if (auto* l = qobject_cast<QLabel*>(w))
                return l->text();
            if (auto* f = qobject_cast<QGroupBox*>(w))
                return f->title();
            return QStringLiteral("<none>");
        };
        QCOMPARE(text("Label8"),
                 QStringLiteral("Press the Open button to select the file. You can view it in the "
                                "window below. Press the Send button when you are ready  to "
                                "transmit."));
        QCOMPARE(text("Label2"), QStringLiteral(" 1.2"));
        QCOMPARE(text("Label19"), QStringLiteral("Parity "));
        QCOMPARE(text("Label16"), QStringLiteral("(0-none 1-odd 3-even) "));
        QCOMPARE(text("Command2"), QStringLiteral("Info..."));
        QCOMPARE(text("Frame13"), QStringLiteral("Master/Slave settings"));
        QCOMPARE(text("Frame4"), QString());
        QCOMPARE(text("Command8"), QStringLiteral("Send image"));
        QCOMPARE(text("Label6"), QStringLiteral("File received from master/slave number"));
    }

    void listsOfferOnlyTheirEntries() {
        auto* ports = child<QComboBox>(window_.get(), "Combo1");
        auto* lines = child<QComboBox>(window_.get(), "Combo2");
        QVERIFY(!ports->isEditable() && !lines->isEditable());
        QCOMPARE(ports->count(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ports->itemText(i), QStringLiteral("COM %1").arg(i + 1));
        const QStringList shown = {"9600,none,8,1",   "9600,odd,8,1",   "9600.even,8,1",
                                   "19200,none,8,1",  "19200.odd,8,1",  "19200,even,8,1",
                                   "57600,none,8,1",  "57600,odd,8,1",  "57600,even,8,1",
                                   "115200,none,8,1", "115200,odd,8,1", "115200,even,8,1"};
        QCOMPARE(lines->count(), 12);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(lines->itemText(i), shown[i]);
    }

    void fontsAreSetPerControl_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("italic");
        QTest::newRow("frame") << "Frame1"
                               << "Tahoma" << 9.75 << true << false;
        // A label inside a bold frame keeps the window's plain font.
        QTest::newRow("label in frame") << "Label4"
                                        << "MS Sans Serif" << 9.75 << false << false;
        QTest::newRow("box in frame") << "Text12"
                                      << "MS Sans Serif" << 9.75 << false << false;
        QTest::newRow("button") << "Command1"
                                << "Comic Sans MS" << 9.75 << false << false;
        QTest::newRow("button in frame") << "Command7"
                                         << "Comic Sans MS" << 9.75 << false << false;
        QTest::newRow("register button") << "Command17"
                                         << "Tahoma" << 9.75 << false << false;
        QTest::newRow("instruction") << "Label13"
                                     << "Times New Roman" << 11.25 << false << true;
        QTest::newRow("title") << "Label26"
                               << "Monotype Corsiva" << 36.0 << false << true;
        QTest::newRow("heading") << "Label21"
                                 << "MS Sans Serif" << 8.25 << true << false;
        QTest::newRow("text window") << "Text2"
                                     << "MS Sans Serif" << 12.0 << false << false;
        QTest::newRow("help") << "Text3"
                              << "Times New Roman" << 11.25 << false << false;
        QTest::newRow("poll row") << "Check1_4"
                                  << "MS Sans Serif" << 9.75 << false << false;
    }

    void fontsAreSetPerControl() {
        QFETCH(QString, name);
        QFETCH(QString, family);
        QFETCH(double, points);
        QFETCH(bool, bold);
        QFETCH(bool, italic);
        auto* w = window_->findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->font().family(), family);
        QCOMPARE(w->font().pointSizeF(), points);
        QCOMPARE(w->font().bold(), bold);
        QCOMPARE(w->font().italic(), italic);
    }

    void titleColumnColoursAndLogos() {
        auto* demo = child<QLabel>(window_.get(), "Label1");
        QCOMPARE(demo->palette().color(QPalette::WindowText), QColor(0x40, 0x40, 0x40));
        QCOMPARE(demo->palette().color(QPalette::Window), QColor(128, 255, 255));
        QVERIFY(demo->alignment() & Qt::AlignHCenter);
        for (const char* name : {"Image1", "Image4", "Image2", "Image3"}) {
            auto* picture = child<QLabel>(window_.get(), name);
            QVERIFY(picture->hasScaledContents());
            QVERIFY(picture->frameShape() != QFrame::NoFrame);
        }
        QCOMPARE(child<QLabel>(window_.get(), "Image1")->pixmap().size(), QSize(257, 72));
        QCOMPARE(child<QLabel>(window_.get(), "Image4")->pixmap().size(), QSize(180, 124));
        QVERIFY(child<QLabel>(window_.get(), "Image2")->pixmap().isNull());
        QVERIFY(child<QLabel>(window_.get(), "Image3")->pixmap().isNull());
    }

    void userGuideIsExact() {
        const QString guide = userGuideText();
        const QStringList lines = guide.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 27);
        QVERIFY(!guide.endsWith(QLatin1Char('\n')) && !guide.endsWith(QLatin1Char('\r')));
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
        QVERIFY(
            lines[2].startsWith(QLatin1String("This demo aims to verify the working of RAVA2")));
        QVERIFY(lines[17].contains(QLatin1String("it's possible to access to microcontroller")));
        QVERIFY(
            lines[26].endsWith(QLatin1String(" the valid reply is indicated with a green light.")));
        QVERIFY(lines[26].startsWith(QLatin1String("When the slave receives the command,")));
    }

    void helpPageShowsTheGuide() {
        const QString shown = child<QPlainTextEdit>(window_.get(), "Text3")->toPlainText();
        QCOMPARE(shown.split(QLatin1Char('\n')), userGuideText().split(QStringLiteral("\r\n")));
    }

private:
    std::unique_ptr<MainWindow> window_;
};

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
