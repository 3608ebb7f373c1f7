#include "text_transfer/text_lines.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace rava::text;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Lines written as hex, separated by "|"; "-" alone means no lines at all.
QList<QByteArray> hexLines(const char* text) {
    QList<QByteArray> lines;
    if (QByteArray(text) == "-")
        return lines;
    for (const QByteArray& part : QByteArray(text).split('|'))
        lines.append(QByteArray::fromHex(part));
    return lines;
}

int openFileCount() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

class TextLinesTest : public QObject {
    Q_OBJECT
private slots:
    void splitting_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("empty file") << hex("") << hexLines("-");
        QTest::newRow("CR LF lines") << hex("41420d0a430d0a") << hexLines("4142|43");
        QTest::newRow("CR lines") << hex("41420d430d") << hexLines("4142|43");
        QTest::newRow("no final break") << hex("41420d0a43") << hexLines("4142|43");
        QTest::newRow("single break") << hex("0d0a") << hexLines("");
        QTest::newRow("empty lines kept") << hex("410d0a0d0a0d420d0a") << hexLines("41|||42");
        QTest::newRow("CR CR LF") << hex("410d0d0a42") << hexLines("41||42");
        QTest::newRow("LF only is one line") << hex("410a420a") << hexLines("410a420a");
        QTest::newRow("lone LF") << hex("0a") << hexLines("0a");
        QTest::newRow("LF after CR LF starts next line")
            << hex("410d0a0a42") << hexLines("41|0a42");
        QTest::newRow("LF before CR") << hex("410a0d0a") << hexLines("410a");
        QTest::newRow("NUL kept") << hex("00410d0a00") << hexLines("0041|00");
        QTest::newRow("high bytes, not UTF-8") << hex("e9ff800d0ac3") << hexLines("e9ff80|c3");
    }
    void splitting() {
        QFETCH(QByteArray, file);
        QFETCH(QList<QByteArray>, lines);
        QCOMPARE(splitLines(file), lines);
        // The splitter hands out the same lines one at a time.
        LineSplitter splitter(file);
        QList<QByteArray> oneByOne;
        while (!splitter.atEnd())
            oneByOne.append(splitter.next());
        QCOMPARE(oneByOne, lines);
        QCOMPARE(splitter.next(), QByteArray());
    }

    void everyByteValueSurvives() {
        QByteArray file;
        for (int b = 0; b < 256; ++b)
            if (b != '\r')
                file.append(char(b));
        const QList<QByteArray> lines = splitLines(file);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first(), file);
    }

    void wire_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("master");
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("slave") << hex("4142") << false << 5 << hex("41420d0a");
        QTest::newRow("master 5") << hex("4142") << true << 5 << hex("0541420d0a");
        QTest::newRow("master 0") << hex("43") << true << 0 << hex("00430d0a");
        QTest::newRow("master 200 is one byte") << hex("43") << true << 200 << hex("c8430d0a");
        QTest::newRow("master 255") << hex("") << true << 255 << hex("ff0d0a");
        QTest::newRow("slave empty line") << hex("") << false << 0 << hex("0d0a");
        QTest::newRow("master empty line") << hex("") << true << 7 << hex("070d0a");
        QTest::newRow("high bytes unchanged") << hex("80e9ff") << false << 0 << hex("80e9ff0d0a");
        QTest::newRow("embedded LF kept") << hex("410a42") << true << 10 << hex("0a410a420d0a");
    }
    void wire() {
        QFETCH(QByteArray, line);
        QFETCH(bool, master);
        QFETCH(int, address);
        QFETCH(QByteArray, wire);
        QCOMPARE(lineOnWire(line, master, address).toHex(' '), wire.toHex(' '));
    }

    void readsWholeFileAndReleasesIt() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("lines.txt"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        const QByteArray bytes = hex("41e90d0a0a420d");
        out.write(bytes);
        out.close();

        const int before = openFileCount();
        const FileRead read = readTextFile(path);
        QVERIFY2(read.ok(), qPrintable(read.error));
        QCOMPARE(read.bytes, bytes);
        QCOMPARE(openFileCount(), before);
    }

    void missingFileIsReportedByName() {
        const int before = openFileCount();
        const FileRead read = readTextFile(QStringLiteral("/nonexistent/dir/lines.txt"));
        QVERIFY(!read.ok());
        QVERIFY2(read.error.contains(QStringLiteral("/nonexistent/dir/lines.txt")),
                 qPrintable(read.error));
        QVERIFY(read.bytes.isEmpty());
        QCOMPARE(openFileCount(), before);
        QVERIFY(!readTextFile(QString()).ok());
    }

    void readFailureReleasesTheFile() {
        // The process's own memory file opens but cannot be read from offset 0.
        const QString path = QStringLiteral("/proc/self/mem");
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            QSKIP("no readable /proc/self/mem here");
        probe.close();
        const int before = openFileCount();
        const FileRead read = readTextFile(path);
        QVERIFY(!read.ok());
        QVERIFY2(read.error.startsWith(QStringLiteral("Cannot read")), qPrintable(read.error));
        QCOMPARE(openFileCount(), before);
    }
};

QTEST_GUILESS_MAIN(TextLinesTest)
#include "test_text_lines.moc"
