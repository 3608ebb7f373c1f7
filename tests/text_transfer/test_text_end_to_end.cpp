// Text files between two stations joined by the module simulator: the
// project's serial channels on the simulator's links, and for the slave to
// master case two whole windows.
#include "link/line_settings.h"
#include "link/messenger.h"
#include "main_window/main_window.h"
#include "sim/sim_process.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace rava;
using namespace rava::text;
using rava::test::SimProcess;

namespace {

// The text channel of a station whose port `port` is the simulator's link.
std::unique_ptr<SerialChannel> station(int port, const QString& link, const char* settings) {
    qputenv(QByteArray("RAVA2_COM") + QByteArray::number(port), link.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("MSComm1"), 1024, 512, 0);
    ch->setPort(port);
    ch->setSettings(QString::fromLatin1(settings));
    return ch;
}

QString writeLines(const QTemporaryDir& dir, const QByteArrayList& lines) {
    QFile f(dir.filePath(QStringLiteral("sample.txt")));
    if (f.open(QIODevice::WriteOnly))
        f.write(lines.join("\r\n") + "\r\n");
    return f.fileName();
}

class Messages : public Messenger {
public:
    void error(const QString& text) override { errors.append(text); }
    void info(const QString&, const QString&) override {}
    QStringList errors;
};

} // namespace

class TextEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void masterSendsFileToSlave_data() {
        QTest::addColumn<int>("setting");
        QTest::addColumn<QString>("baud");
        QTest::newRow("9600") << 0 << "9600";
        QTest::newRow("115200") << 9 << "115200";
    }
    void masterSendsFileToSlave() {
        QFETCH(int, setting);
        QFETCH(QString, baud);
        const LineSetting& line = kLineSettings[size_t(setting)];
        SimProcess sim({QStringLiteral("--baud"), baud, QStringLiteral("master=master:0"),
                        QStringLiteral("slave=slave:7")});
        QVERIFY(sim.start());
        auto masterCh = station(1, sim.linkPath(QStringLiteral("master")), line.settings);
        auto slaveCh = station(2, sim.linkPath(QStringLiteral("slave")), line.settings);

        TextReceiver receiver(*slaveCh, [] { return false; });
        QByteArrayList got;
        connect(&receiver, &TextReceiver::lineReceived, this, [&](const QByteArray& l, int sender) {
            got.append(QByteArray::number(sender) + ':' + l);
        });
        QVERIFY(receiver.receive());

        // 200 lines of every byte value but CR and LF, some of them empty.
        QByteArrayList lines, expected;
        for (int i = 0, next = 0; i < 200; ++i) {
            QByteArray text = i % 7 == 3 ? QByteArray() : QByteArray::number(i) + ':';
            for (int k = 0; !text.isEmpty() && k < (i * 13) % 60; ++k, ++next)
                text.append(next % 256 == '\r' || next % 256 == '\n' ? 'x' : char(next % 256));
            lines.append(text);
            expected.append("0:" + text + '\r');
        }
        TextSender sender(
            *masterCh, [] { return true; }, [] { return 7; }, [&] { return line.pacingMs; });
        QSignalSpy finished(&sender, &TextSender::finished);
        QTemporaryDir dir;
        QVERIFY(sender.send(writeLines(dir, lines)));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), expected.size(), 10000);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(got[i].toHex(' '), expected[i].toHex(' '));
        // Silence after the last line ends the reception by itself.
        QTRY_COMPARE_WITH_TIMEOUT(receiver.state(), TextReceiver::State::Idle, 5000);
        QVERIFY(!slaveCh->isOpen());
    }

    void slaveSendsToMasterWindow_data() {
        QTest::addColumn<int>("address");
        QTest::newRow("slave 7") << 7;
        QTest::newRow("slave 10, a line feed") << 10;
    }
    void slaveSendsToMasterWindow() {
        QFETCH(int, address);
        SimProcess sim({QStringLiteral("--no-pacing"), QStringLiteral("master=master:0"),
                        QStringLiteral("slave=slave:%1").arg(address)});
        QVERIFY(sim.start());
        qputenv("RAVA2_COM1", sim.linkPath(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.linkPath(QStringLiteral("slave")).toLocal8Bit());
        Messages messages;
        MainWindow masterWin, slaveWin;
        masterWin.setMessenger(&messages);
        slaveWin.setMessenger(&messages);
        slaveWin.findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        QTest::mouseClick(slaveWin.findChild<QRadioButton*>(QStringLiteral("Option2")),
                          Qt::LeftButton);
        QTemporaryDir dir;
        const QString file = writeLines(dir, {"first", "", "caf\xe9 \xff", "last"});
        slaveWin.setFileChooser([&](const QString&, const QString&) { return file; });
        auto click = [](MainWindow& win, const char* name) {
            win.findChild<QPushButton*>(QLatin1String(name))->click();
        };

        click(masterWin, "Command6");
        click(slaveWin, "Command3");
        click(slaveWin, "Command4");
        auto* text2 = masterWin.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
        QTRY_COMPARE_WITH_TIMEOUT(
            text2->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')),
            QString::fromLatin1("first\n\ncaf\xe9 \xff\nlast\n"), 10000);
        QCOMPARE(masterWin.findChild<QLineEdit*>(QStringLiteral("Text8"))->text(),
                 QString::number(address));
        QTRY_VERIFY_WITH_TIMEOUT(!masterWin.findChild<TextPages*>()->receiver().isBusy(), 5000);
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TextEndToEndTest)
#include "test_text_end_to_end.moc"
