#include "form/entry_binder.h"
#include "numbers/number_rule.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using namespace rava;

class EntryRulesTest : public QObject {
    Q_OBJECT
private slots:
    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("plain") << "200" << 200.0;
        QTest::newRow("blanks anywhere") << " 1 2\t3" << 123.0;
        QTest::newRow("minus alone") << "-" << 0.0;
        QTest::newRow("negative") << "-1" << -1.0;
        QTest::newRow("plus") << "+7" << 7.0;
        QTest::newRow("decimal") << "2.5" << 2.5;
        QTest::newRow("leading point") << ".9" << 0.9;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("exponent E") << "1E2" << 100.0;
        QTest::newRow("exponent D") << "1D2" << 100.0;
        QTest::newRow("exponent sign") << "25E-1" << 2.5;
        QTest::newRow("dangling exponent") << "3E" << 3.0;
        QTest::newRow("hex") << "&HF" << 15.0;
        QTest::newRow("hex lower h") << "&hff" << 255.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("octal stops at 8") << "&O78" << 7.0;
        QTest::newRow("ampersand alone") << "&" << 0.0;
        QTest::newRow("ampersand other") << "&X1" << 0.0;
        QTest::newRow("digit then letter") << "1A" << 1.0;
        QTest::newRow("letter only") << "A" << 0.0;
        QTest::newRow("comma is no point") << "1,5" << 1.0;
        QTest::newRow("decimal beyond a double") << "1E400" << 0.0;
        QTest::newRow("hex beyond a double") << "&H" + QString(300, QLatin1Char('F')) << 0.0;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(rava::leadingNumber(text), value);
    }

    void leadingNumberIgnoresLocale() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        setlocale(LC_ALL, "de_DE.UTF-8");
        QCOMPARE(rava::leadingNumber(QStringLiteral("2.5")), 2.5);
        setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
    }

    void roundsHalfToEven() {
        const double cases[][2] = {{2.5, 2}, {3.5, 4},    {0.5, 0},    {254.5, 254},
                                   {0.9, 1}, {2.4999, 2}, {2.5001, 3}, {-2.5, -2}};
        for (const auto& [value, rounded] : cases)
            QCOMPARE(roundHalfEven(value), rounded);
    }

    // A box with its own rule (parity: 0, 1 or 3), and the order of the
    // signals: a refusal is reported before the box is emptied, and the
    // emptied box runs the handler again.
    void ownRuleAndSignalOrder() {
        QLineEdit box;
        rava::form::EntryBinder binder(&box, [](double v) { return v >= 0 && v <= 3 && v != 2; });
        QStringList log;
        connect(&binder, &rava::form::EntryBinder::edited, [&] { log << "edited"; });
        connect(&binder, &rava::form::EntryBinder::rejected,
                [&] { log << "rejected:" + box.text(); });
        connect(&binder, &rava::form::EntryBinder::accepted,
                [&](int v) { log << QString::number(v); });
        box.setText("2");
        QCOMPARE(box.text(), QString());
        QCOMPARE(log, (QStringList{"edited", "rejected:2", "edited", "0"}));
        log.clear();
        box.setText("3");
        QCOMPARE(log, (QStringList{"edited", "3"}));
        QCOMPARE(binder.value(), 3.0);
    }
};

QTEST_MAIN(EntryRulesTest)
#include "test_entry_rules.moc"
