// Text files between two stations joined by the module simulator (rava2-sim,
// found through RAVA2_SIM): the project's own serial channels on the
// simulator's pseudo-terminals, and for one case two whole windows.
#include "link/line_settings.h"
#include "link/messenger.h"
#include "link/serial_channel.h"
#include "main_window/main_window.h"
#include "text_transfer/text_lines.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using namespace rava::text;

namespace {

// The simulator as a child process: its modules' links and nothing more.
class Simulator {
public:
    ~Simulator() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(5000))
            proc_.kill();
        proc_.waitForFinished(2000);
    }

    // Starts it and reads "NAME path" lines up to "ready"; false (with the
    // reason in error()) when it does not get there.
    bool start(const QStringList& args) {
        const QString binary = qEnvironmentVariable("RAVA2_SIM");
        if (binary.isEmpty() || !QFile::exists(binary)) {
            error_ = QStringLiteral("RAVA2_SIM does not name the simulator");
            return false;
        }
        proc_.setProcessChannelMode(QProcess::SeparateChannels);
        proc_.start(binary, QStringList{QStringLiteral("--dir"), dir_.path()} + args);
        if (!proc_.waitForStarted(5000)) {
            error_ = proc_.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            if (!proc_.canReadLine() && !proc_.waitForReadyRead(500)) {
                if (proc_.state() == QProcess::NotRunning)
                    break;
                continue;
            }
            while (proc_.canReadLine()) {
                const QString line = QString::fromLocal8Bit(proc_.readLine()).trimmed();
                if (line == QLatin1String("ready"))
                    return true;
                const qsizetype blank = line.indexOf(QLatin1Char(' '));
                if (blank > 0)
                    paths_.insert(line.left(blank), line.mid(blank + 1));
            }
        }
        error_ = QStringLiteral("no 'ready' from the simulator: ") +
                 QString::fromLocal8Bit(proc_.readAllStandardError());
        return false;
    }
    QString path(const QString& module) const { return paths_.value(module); }
    QString error() const { return error_; }

private:
    QTemporaryDir dir_;
    QProcess proc_;
    QHash<QString, QString> paths_;
    QString error_;
};

// A text channel on `port`, which the environment points at `path`.
std::unique_ptr<SerialChannel> station(int port, const QString& path, const QString& settings) {
    qputenv(QByteArray("RAVA2_COM") + QByteArray::number(port), path.toLocal8Bit());
    auto ch = std::make_unique<SerialChannel>(QStringLiteral("MSComm1"), 1024, 512, 0);
    ch->setPort(port);
    ch->setSettings(settings);
    return ch;
}

// 200 lines of varied length with every byte value but CR and LF, and some
// empty ones.
QList<QByteArray> sampleLines(int count) {
    QList<QByteArray> lines;
    int next = 0;
    for (int i = 0; i < count; ++i) {
        if (i % 7 == 3) {
            lines.append(QByteArray());
            continue;
        }
        QByteArray line = QByteArray::number(i) + ':';
        const int extra = (i * 13) % 60;
        for (int k = 0; k < extra; ++k) {
            char c = char(next++ % 256);
            if (c == '\r' || c == '\n')
                c = 'x';
            line.append(c);
        }
        lines.append(line);
    }
    return lines;
}

QString writeFile(const QTemporaryDir& dir, const QList<QByteArray>& lines) {
    const QString path = dir.filePath(QStringLiteral("sample.txt"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    for (const QByteArray& line : lines)
        f.write(line + "\r\n");
    return path;
}

class SilentMessenger : public Messenger {
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
        QTest::addColumn<int>("lineSetting");
        QTest::addColumn<QString>("baud");
        QTest::newRow("9600") << 0 << "9600";
        QTest::newRow("115200") << 9 << "115200";
    }
    void masterSendsFileToSlave() {
        QFETCH(int, lineSetting);
        QFETCH(QString, baud);
        const LineSetting& setting = kLineSettings[size_t(lineSetting)];
        Simulator sim;
        QVERIFY2(sim.start({QStringLiteral("--baud"), baud, QStringLiteral("master=master:0"),
                            QStringLiteral("slave=slave:7")}),
                 qPrintable(sim.error()));
        const QString settings = QString::fromLatin1(setting.settings);
        auto masterCh = station(1, sim.path(QStringLiteral("master")), settings);
        auto slaveCh = station(2, sim.path(QStringLiteral("slave")), settings);

        TextReceiver receiver(*slaveCh, [] { return false; });
        QList<QByteArray> got;
        QList<int> senders;
        connect(&receiver, &TextReceiver::lineReceived, this,
                [&](const QByteArray& line, int sender) {
                    got.append(line);
                    senders.append(sender);
                });
        QSignalSpy failures(&receiver, &TextReceiver::failed);
        QVERIFY(receiver.receive());

        TextSender sender(
            *masterCh, [] { return true; }, [] { return 7; }, [&] { return setting.pacingMs; });
        QSignalSpy finished(&sender, &TextSender::finished);
        QSignalSpy sendFailures(&sender, &TextSender::failed);
        const QList<QByteArray> lines = sampleLines(200);
        QTemporaryDir dir;
        QVERIFY(sender.send(writeFile(dir, lines)));

        QVERIFY(finished.wait(60000));
        QVERIFY2(sendFailures.isEmpty(), qPrintable(sendFailures.value(0).value(0).toString()));
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), lines.size(), 10000);
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(got[i].toHex(' '), (lines[i] + '\r').toHex(' '));
        QVERIFY(std::all_of(senders.begin(), senders.end(), [](int s) { return s == 0; }));
        // Silence after the last line ends the reception by itself.
        QTRY_COMPARE_WITH_TIMEOUT(receiver.state(), TextReceiver::State::Idle, 5000);
        QVERIFY(failures.isEmpty());
        QVERIFY(!slaveCh->isOpen());
    }

    void slaveSendsToMasterWindow_data() {
        QTest::addColumn<int>("address");
        QTest::newRow("slave 7") << 7;
        QTest::newRow("slave 10, a line feed") << 10;
    }
    void slaveSendsToMasterWindow() {
        QFETCH(int, address);
        Simulator sim;
        QVERIFY2(sim.start({QStringLiteral("--no-pacing"), QStringLiteral("master=master:0"),
                            QStringLiteral("slave=slave:%1").arg(address)}),
                 qPrintable(sim.error()));
        qputenv("RAVA2_COM1", sim.path(QStringLiteral("master")).toLocal8Bit());
        qputenv("RAVA2_COM2", sim.path(QStringLiteral("slave")).toLocal8Bit());

        SilentMessenger messages;
        MainWindow masterWin;
        MainWindow slaveWin;
        masterWin.setMessenger(&messages);
        slaveWin.setMessenger(&messages);
        slaveWin.findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(1);
        QTest::mouseClick(slaveWin.findChild<QRadioButton*>(QStringLiteral("Option2")),
                          Qt::LeftButton);
        QVERIFY(!slaveWin.isMaster());

        QTemporaryDir dir;
        const QList<QByteArray> lines{"first", "", QByteArray("caf\xe9 \xff"), "last"};
        const QString file = writeFile(dir, lines);
        slaveWin.setFileChooser([&](const QString&, const QString&) { return file; });
        auto click = [](MainWindow& w, const char* name) {
            auto* b = w.findChild<QPushButton*>(QLatin1String(name));
            QVERIFY(b);
            b->click();
        };

        auto* masterPages = masterWin.findChild<TextPages*>();
        QVERIFY(masterPages);
        click(masterWin, "Command6");
        QCOMPARE(masterPages->receiver().state(), TextReceiver::State::WaitingFirst);
        click(slaveWin, "Command3");
        click(slaveWin, "Command4");

        auto* text2 = masterWin.findChild<QPlainTextEdit*>(QStringLiteral("Text2"));
        auto* text8 = masterWin.findChild<QLineEdit*>(QStringLiteral("Text8"));
        const QString expected = QString::fromLatin1("first\n\ncaf\xe9 \xff\nlast\n");
        QTRY_COMPARE_WITH_TIMEOUT(
            text2->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')),
            expected, 10000);
        QCOMPARE(text8->text(), QString::number(address));
        QTRY_COMPARE_WITH_TIMEOUT(masterPages->receiver().state(), TextReceiver::State::Idle, 5000);
        QVERIFY2(messages.errors.isEmpty(), qPrintable(messages.errors.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TextEndToEndTest)
#include "test_text_end_to_end.moc"
