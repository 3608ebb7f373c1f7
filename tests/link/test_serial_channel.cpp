#include "link/serial_channel.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "link/wire_trace.h"
#include "support/pty.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using rava::test::Pty;

namespace {

// A channel on port 1, which points at the station side of `pty`.
std::unique_ptr<SerialChannel> channelOn(const Pty& pty, const char* name = "MSComm1") {
    qputenv("RAVA2_COM1", pty.stationPath().toLocal8Bit());
    const QString n = QLatin1String(name);
    return std::make_unique<SerialChannel>(n, "the " + n + " channel", 1);
}

QByteArray everyByte() {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    return all;
}

// Everything the channel delivers within `ms`, up to `count` bytes.
QByteArray readFrom(Channel& ch, int count, int ms = 3000) {
    QByteArray got;
    QDeadlineTimer deadline(ms);
    while (got.size() < count && !deadline.hasExpired()) {
        QTest::qWait(5);
        got += ch.readAll();
    }
    return got;
}

} // namespace

class SerialChannelTest : public QObject {
    Q_OBJECT
private slots:
    void bytesTravelBothWaysUnchanged() {
        Pty pty;
        const auto ch = channelOn(pty);
        QString error;
        QVERIFY2(ch->setSettings("115200,n,8,1") && ch->open(&error), qPrintable(error));
        QVERIFY(ch->write(everyByte()));
        QCOMPARE(pty.receive(256, 3000), everyByte());
        QSignalSpy received(ch.get(), &Channel::received);
        QVERIFY(pty.send(everyByte()));
        QCOMPARE(readFrom(*ch, 256), everyByte());
        QVERIFY(!received.isEmpty());
        // As text every byte is one character with the byte's value.
        QVERIFY(pty.send("\xe9\n"));
        QTRY_COMPARE(ch->bytesWaiting(), qint64(2));
        QCOMPARE(ch->readAllText(), QString::fromLatin1("\xe9\n"));
    }

    void lineSettingAppliesAtOnceWithParityMarked() {
        Pty pty;
        const auto ch = channelOn(pty);
        QVERIFY(ch->setSettings("115200,n,8,1") && ch->open());
        QCOMPARE(pty.stationBaud(), 115200);
        QVERIFY(ch->setSettings("9600,e,8,1"));
        QCOMPARE(pty.stationBaud(), 9600);
        QCOMPARE(pty.stationParity(), 'e');
        QVERIFY(ch->setSettings("19200,o,8,1"));
        QCOMPARE(pty.stationParity(), 'o');
        QVERIFY(!ch->setSettings("fast,x,8,1"));
        QCOMPARE(ch->settings(), QStringLiteral("19200,o,8,1"));
        // With parity checked, an FF byte from the line is still one FF.
        const QByteArray bytes("\xff\x00\xff\x41", 4);
        QVERIFY(pty.send(bytes));
        QCOMPARE(readFrom(*ch, 4), bytes);
    }

    // Reads in turn (split by '|'), and what each yields.
    void parityMarksBecomeQuestionMarks_data() {
        QTest::addColumn<QByteArray>("reads");
        QTest::addColumn<QByteArray>("yields");
        QTest::newRow("bad byte, genuine FF")
            << QByteArray("A\xff\x00\x41\x42|\xff\xff", 8) << QByteArray("A?B|\xff");
        QTest::newRow("mark split after FF")
            << QByteArray("x\xff|\x00|\x07y", 7) << QByteArray("x||?y");
        QTest::newRow("FF FF split") << QByteArray("\xff|\xff") << QByteArray("|\xff");
    }
    void parityMarksBecomeQuestionMarks() {
        QFETCH(QByteArray, reads);
        QFETCH(QByteArray, yields);
        QByteArray carry;
        QList<QByteArray> got;
        for (const QByteArray& read : reads.split('|'))
            got << decodeParityMarks(carry, read);
        QCOMPARE(got, yields.split('|'));
        QVERIFY(carry.isEmpty());
    }

    void closeDeliversEverythingHandedOver() {
        Pty pty;
        const auto ch = channelOn(pty, "MSComm2");
        QVERIFY(ch->open());
        const QByteArray big = everyByte().repeated(200);
        QVERIFY(ch->write(big));
        ch->close(); // far more than the line's buffers hold is still queued
        QVERIFY(!ch->isOpen() && !ch->write("late"));
        QCOMPARE(pty.receive(big.size(), 10000), big);
        QVERIFY(pty.waitStationOpen(false, 5000));
    }

    void secondChannelOnHeldDeviceIsRefused() {
        Pty pty;
        const auto polling = channelOn(pty, "MSComm3"), text = channelOn(pty);
        QVERIFY(polling->open());
        QString error;
        QVERIFY(!text->open(&error) && !text->isOpen());
        QVERIFY2(error.contains("COM 1") && error.contains(pty.stationPath()), qPrintable(error));
        QVERIFY(polling->open()); // asking again is harmless
        polling->close();
        QVERIFY(text->open(&error));
    }

    void missingDeviceIsReportedWithItsVariable() {
        qputenv("RAVA2_COM3", "/nonexistent/rava-port");
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        ch.setPort(3);
        QString error;
        QVERIFY(!ch.open(&error) && !ch.isOpen() && !ch.write("x"));
        for (const char* part : {"COM 3", "/nonexistent/rava-port", "RAVA2_COM3"})
            QVERIFY2(error.contains(QLatin1String(part)), qPrintable(error));
    }

    void vanishingDeviceClosesTheChannel() {
        auto pty = std::make_unique<Pty>();
        const auto ch = channelOn(*pty);
        QVERIFY(ch->open());
        const QString device = ch->devicePath();
        // Choosing another port while open changes nothing for the device
        // held: the message names the one that went away.
        ch->setPort(2);
        QSignalSpy lost(ch.get(), &Channel::lost);
        pty.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        QVERIFY(!ch->isOpen());
        const QString reason = lost.first().first().toString();
        QVERIFY2(reason.contains("COM 1") && reason.contains(device), qPrintable(reason));
    }

    // With a trace file, every write and every receive event of a channel
    // is one line: time, channel, direction, length, bytes in hex.
    void traceRecordsWhatCrossesTheLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wire.trace"));
        WireTrace::restart(path);
        Pty pty;
        const auto ch = channelOn(pty, "MSComm3");
        ch->setTraceName(QStringLiteral("polling"));
        QVERIFY(ch->open());
        QVERIFY(ch->write("\x05"
                          "AB\r\n"));
        QCOMPARE(pty.receive(5, 3000).size(), 5);
        QVERIFY(pty.send("\xff"
                         "ok"));
        QCOMPARE(readFrom(*ch, 3).size(), 3);
        ch->close();
        WireTrace::restart(QString()); // off again: nothing more is written
        QVERIFY(ch->open() && ch->write("late"));
        ch->close();

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString lines = QString::fromLatin1(file.readAll());
        const QRegularExpression expected(
            QStringLiteral("^(\\d+\\.\\d{3}) polling out 5 0541420d0a\n"
                           "(\\d+\\.\\d{3}) polling in 3 ff6f6b\n$"));
        const QRegularExpressionMatch m = expected.match(lines);
        QVERIFY2(m.hasMatch(), qPrintable(lines));
        QVERIFY(m.captured(2).toDouble() >= m.captured(1).toDouble());
    }

    void portAndLineChoicesReachTheRightChannels() {
        StationSettings settings;
        StationLink link(settings);
        const QList<SerialChannel*> all = {&link.textChannel(), &link.imageChannel(),
                                           &link.pollingChannel(), &link.programmingChannel()};
        settings.setPort(3);
        settings.setPort(8);         // no such entry
        settings.setLineSetting(2);  // "9600.even,8,1"
        settings.setLineSetting(12); // no such entry
        for (SerialChannel* ch : all) {
            QCOMPARE(ch->port(), ch == all.last() ? 1 : 3); // programming stays on 1
            QCOMPARE(ch->settings(), QStringLiteral("9600,e,8,1"));
        }
    }
};

QTEST_GUILESS_MAIN(SerialChannelTest)
#include "test_serial_channel.moc"
