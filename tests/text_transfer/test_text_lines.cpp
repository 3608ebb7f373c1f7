#include "text_transfer/text_lines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace rava::text;

class TextLinesTest : public QObject {
    Q_OBJECT
private slots:
    // File bytes and the lines read from them, both in hex; lines joined by
    // "|", "-" for no lines at all.
    void splitting_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("empty file") << QByteArray("") << QByteArray("-");
        QTest::newRow("CR LF and CR") << QByteArray("41420d0a430d440d") << QByteArray("4142|43|44");
        QTest::newRow("no final break") << QByteArray("41420d0a43") << QByteArray("4142|43");
        QTest::newRow("empty lines kept")
            << QByteArray("0d0a410d0d0a0d0a42") << QByteArray("|41|||42");
        QTest::newRow("LF alone is a character")
            << QByteArray("410a420a") << QByteArray("410a420a");
        QTest::newRow("LF after CR LF") << QByteArray("410d0a0a42") << QByteArray("41|0a42");
        QTest::newRow("NUL and high bytes")
            << QByteArray("00e9ff800d0ac3") << QByteArray("00e9ff80|c3");
    }
    void splitting() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, lines);
        QByteArrayList got;
        for (const QByteArray& line : splitLines(QByteArray::fromHex(file)))
            got.append(line.toHex());
        QCOMPARE(got.isEmpty() ? QByteArray("-") : got.join('|'), lines);
    }

    void fileIsReadWholeAndNeverKeptOpen() {
        auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd"))
                .entryList(QDir::Files | QDir::System)
                .size();
        };
        const qsizetype before = openFiles();
        QTemporaryDir dir;
        QFile out(dir.filePath(QStringLiteral("a.txt")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("A\xe9\r\n\nB");
        out.close();
        const FileRead good = readTextFile(out.fileName());
        QVERIFY2(good.ok(), qPrintable(good.error));
        QCOMPARE(good.bytes, QByteArray("A\xe9\r\n\nB"));

        const FileRead missing = readTextFile(dir.filePath(QStringLiteral("gone.txt")));
        QVERIFY(missing.error.contains(QStringLiteral("gone.txt")));
        // Opens, but cannot be read from its start.
        const FileRead unreadable = readTextFile(QStringLiteral("/proc/self/mem"));
        QVERIFY2(unreadable.error.startsWith(QStringLiteral("Cannot read")),
                 qPrintable(unreadable.error));
        QCOMPARE(openFiles(), before);
    }
};

QTEST_GUILESS_MAIN(TextLinesTest)
#include "test_text_lines.moc"
