// rava2-station's command line: options before or after the subcommand,
// the values each accepts, and --help against the man pages.
#include "options.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using namespace rava::station;

namespace {

Options parse(const QString& line) {
    return parseOptions(QProcess::splitCommand(line));
}

// The long options a text names: "--name" at the start of a line or after
// blanks, as help texts and man pages list them ("\-\-name" in troff).
QSet<QString> optionsIn(QString text) {
    text.replace(QLatin1String("\\-"), QLatin1String("-"));
    QSet<QString> names;
    static const QRegularExpression option(QStringLiteral("^\\s*(?:\\.B[I]? )?(--[a-z][a-z-]*)"),
                                           QRegularExpression::MultilineOption);
    for (auto it = option.globalMatch(text); it.hasNext();)
        names << it.next().captured(1);
    return names;
}

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString helpOf(const QString& program) {
    QProcess p;
    p.start(program, {QStringLiteral("--help")});
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

class StationOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void optionsStandBeforeOrAfterTheSubcommand() {
        const Options a = parse("--json --port /dev/pts/3 --remote 7 send-text a.txt --quiet");
        const Options b = parse("send-text --quiet a.txt --remote=7 --port=/dev/pts/3 --json");
        for (const Options& o : {a, b}) {
            QVERIFY2(o.ok(), qPrintable(o.error));
            QCOMPARE(o.verb, QStringLiteral("send-text"));
            QCOMPARE(o.arguments, QStringList{"a.txt"});
            QCOMPARE(o.port, QStringLiteral("/dev/pts/3"));
            QCOMPARE(o.remote, 7);
            QVERIFY(o.json && o.quiet && !o.slave);
        }
        const Options d = parse("echo");
        QVERIFY(d.ok());
        QCOMPARE(d.lineSetting, 9); // "115200,none,8,1", the window's default
        QCOMPARE(d.com, 0);
        QCOMPARE(d.timeoutMs, 1000);
    }

    // Byte values as the window's entry boxes take them: fractions round
    // half to even, anything that rounds outside 0..255 is refused.
    void byteValuesRoundHalfToEven() {
        QCOMPARE(byteValue("7"), 7);
        QCOMPARE(byteValue("2.5"), 2);
        QCOMPARE(byteValue("3.5"), 4);
        QCOMPARE(byteValue("254.5"), 254);
        QCOMPARE(byteValue("255.5"), -1);
        QCOMPARE(byteValue("-0.5"), 0);
        QCOMPARE(byteValue("-1"), -1);
        QCOMPARE(byteValue("256"), -1);
        QCOMPARE(byteValue("seven"), -1);
        QCOMPARE(parse("--remote 6.5 linktest").remote, 6);
        const Options rows = parse("poll --row 1.5:PING --row 255:x:y --cycles 2");
        QVERIFY2(rows.ok(), qPrintable(rows.error));
        QCOMPARE(rows.rows.size(), 2);
        QCOMPARE(rows.rows[0].address, 2);
        QCOMPARE(rows.rows[0].command, QStringLiteral("PING"));
        QCOMPARE(rows.rows[1].command, QStringLiteral("x:y"));
    }

    // The line settings as the window's list shows them (full stops
    // included) or as settings strings; anything else names the list.
    void lineSettingsAsTheWindowListsThem() {
        QCOMPARE(parse("--line 9600.even,8,1 echo").lineSetting, 2);
        QCOMPARE(parse("--line 19200.odd,8,1 echo").lineSetting, 4);
        QCOMPARE(parse("--line 57600,n,8,1 echo").lineSetting, 6);
        QCOMPARE(parse("--line \"115200,even,8,1\" echo").lineSetting, 11);
        const Options bad = parse("--line 9600,even,8,1 echo");
        QVERIFY(!bad.ok());
        QVERIFY(bad.error.contains(QStringLiteral("\"9600.even,8,1\"")));
        QVERIFY(bad.error.contains(QStringLiteral("\"115200,none,8,1\"")));
    }

    // Bad usage names what fits.
    void badUsageIsRefused_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("says");
        QTest::newRow("no subcommand") << "--json"
                                       << "no subcommand";
        QTest::newRow("unknown subcommand") << "send"
                                            << "send-text, receive-text";
        QTest::newRow("remote 256") << "--remote 256 linktest"
                                    << "0 to 255";
        QTest::newRow("row 256") << "poll --row 256:A"
                                 << "0 to 255";
        QTest::newRow("row without command") << "poll --row 7"
                                             << "ADDRESS:COMMAND";
        QTest::newRow("six rows") << "poll --row 1:a --row 2:a --row 3:a --row 4:a --row 5:a "
                                     "--row 6:a"
                                  << "at most 5";
        QTest::newRow("no rows") << "poll --cycles 1"
                                 << "--row";
        QTest::newRow("cycles and duration") << "poll --row 1:a --cycles 1 --duration 3"
                                             << "not both";
        QTest::newRow("register value") << "write-reg address 256"
                                        << "0 to 255";
        QTest::newRow("parity 2") << "write-reg parity 2"
                                  << "0 (none), 1 (odd) or 3 (even)";
        QTest::newRow("register name") << "read-reg baud"
                                       << "address or parity";
        QTest::newRow("missing file") << "send-text"
                                      << "send-text FILE";
        QTest::newRow("extra argument") << "echo now"
                                        << "takes no argument";
        QTest::newRow("option of another") << "send-text a --idle-ms 5"
                                           << "does not apply";
        QTest::newRow("unknown option") << "echo --bogus"
                                        << "unknown option --bogus";
        QTest::newRow("missing value") << "echo --duration"
                                       << "needs a value";
        QTest::newRow("com 5") << "--com 5 echo"
                               << "1, 2, 3 or 4";
        QTest::newRow("port and com") << "--com 1 --port /dev/x echo"
                                      << "give one";
        QTest::newRow("small probe") << "linktest --size 8"
                                     << "16 to 4096";
        QTest::newRow("no out") << "receive-image"
                                << "--out FILE";
        QTest::newRow("respond without command") << "respond --reply X"
                                                 << "--command";
    }
    void badUsageIsRefused() {
        QFETCH(QString, line);
        QFETCH(QString, says);
        const Options o = parse(line);
        QVERIFY(!o.ok());
        QVERIFY2(o.error.contains(says), qPrintable(o.error));
    }

    // Every option --help lists is in the man page, and the other way
    // round; the same for the simulator and the window.
    void helpAgreesWithTheManPage_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("page");
        const QString bin = QStringLiteral(RAVA2_BIN_DIR);
        const QString man = QStringLiteral(RAVA2_MAN_DIR);
        QTest::newRow("station") << bin + "/rava2-station" << man + "/rava2-station.1";
        QTest::newRow("sim") << bin + "/rava2-sim" << man + "/rava2-sim.1";
        QTest::newRow("demo") << bin + "/rava2-demo" << man + "/rava2-demo.1";
    }
    void helpAgreesWithTheManPage() {
        QFETCH(QString, program);
        QFETCH(QString, page);
        if (!QFile::exists(program))
            QSKIP("program not built");
        const QSet<QString> help = optionsIn(helpOf(program));
        const QSet<QString> man = optionsIn(readFile(page));
        QVERIFY(help.size() >= 5);
        QSet<QString> onlyHelp = help - man, onlyMan = man - help;
        QVERIFY2(onlyHelp.isEmpty() && onlyMan.isEmpty(),
                 qPrintable(QStringLiteral("only in --help: %1; only in the man page: %2")
                                .arg(QStringList(onlyHelp.begin(), onlyHelp.end()).join(' '),
                                     QStringList(onlyMan.begin(), onlyMan.end()).join(' '))));
        // The station's subcommands are all in both.
        if (program.endsWith(QLatin1String("rava2-station"))) {
            const QString h = helpOf(program), m = readFile(page);
            for (const char* verb :
                 {"send-text", "receive-text", "send-image", "receive-image", "poll", "respond",
                  "read-reg", "write-reg", "linktest", "echo"}) {
                QVERIFY2(h.contains(QLatin1String(verb)), verb);
                QVERIFY2(m.contains(QLatin1String(verb)), verb);
            }
        }
    }
};

QTEST_MAIN(StationOptionsTest)
#include "test_station_options.moc"
