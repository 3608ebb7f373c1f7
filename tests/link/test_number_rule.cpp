#include "link/number_rule.h"

#include <QtTest>

using namespace rava;

class NumberRuleTest : public QObject {
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
        QCOMPARE(roundHalfEven(2.5), 2.0);
        QCOMPARE(roundHalfEven(3.5), 4.0);
        QCOMPARE(roundHalfEven(0.5), 0.0);
        QCOMPARE(roundHalfEven(254.5), 254.0);
        QCOMPARE(roundHalfEven(0.9), 1.0);
        QCOMPARE(roundHalfEven(2.4999), 2.0);
        QCOMPARE(roundHalfEven(2.5001), 3.0);
        QCOMPARE(roundHalfEven(-2.5), -2.0);
    }

    void byteEntry_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("emptied");
        QTest::addColumn<int>("value");
        QTest::newRow("2") << "2" << false << 2;
        QTest::newRow("25") << "25" << false << 25;
        QTest::newRow("256") << "256" << true << 0;
        QTest::newRow("255") << "255" << false << 255;
        QTest::newRow("-1") << "-1" << true << 0;
        QTest::newRow("-") << "-" << false << 0;
        QTest::newRow("1A keeps") << "1A" << false << 1;
        QTest::newRow("A alone") << "A" << false << 0;
        QTest::newRow("lowercase last") << "1a" << true << 0;
        QTest::newRow("lowercase z") << "z" << true << 0;
        QTest::newRow("lowercase e exponent") << "1e" << true << 0;
        QTest::newRow("accented is not a-z") << QString::fromLatin1("1\xe9") << false << 1;
        QTest::newRow("2.5") << "2.5" << false << 2;
        QTest::newRow("3.5") << "3.5" << false << 4;
        QTest::newRow(".9") << ".9" << false << 1;
        QTest::newRow("1E2") << "1E2" << false << 100;
        QTest::newRow("&HF") << "&HF" << false << 15;
        QTest::newRow("empty") << "" << false << 0;
    }
    void byteEntry() {
        QFETCH(QString, text);
        QFETCH(bool, emptied);
        QFETCH(int, value);
        const ByteEntry e = filterByteEntry(text);
        QCOMPARE(e.empty, emptied);
        if (!emptied)
            QCOMPARE(e.value, value);
    }
};

QTEST_GUILESS_MAIN(NumberRuleTest)
#include "test_number_rule.moc"
