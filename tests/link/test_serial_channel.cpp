#include "link/serial_channel.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "link/wire_trace.h"
#include "support/pty.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace rava;
using rava::test::Pty;

namespace {

QByteArray everyByte() {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    return all;
}

// Points "COM n" at the station side of `pty`.
void wire(int port, const Pty& pty) {
    qputenv(QByteArray("RAVA2_COM" + QByteArray::number(port)).constData(),
            pty.stationPath().toLocal8Bit());
}

// Everything the channel delivers within `ms`, up to `count` bytes.
QByteArray readFrom(Channel& ch, int count, int ms = 3000) {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < ms) {
        QTest::qWait(5);
        got += ch.readAll();
    }
    return got;
}

} // namespace

class SerialChannelTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        for (int n = 1; n <= 4; ++n)
            qunsetenv(QByteArray("RAVA2_COM" + QByteArray::number(n)).constData());
    }

    void bytesTravelBothWaysUnchanged() {
        Pty pty;
        QVERIFY(pty.valid());
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 1);
        QVERIFY(ch.setSettings(QStringLiteral("115200,n,8,1")));
        QString error;
        QVERIFY2(ch.open(&error), qPrintable(error));
        QVERIFY(pty.waitStationOpen(true, 2000));

        QVERIFY(ch.write(everyByte()));
        QCOMPARE(pty.receive(256, 3000), everyByte());

        QSignalSpy received(&ch, &Channel::received);
        QVERIFY(pty.send(everyByte()));
        QCOMPARE(readFrom(ch, 256), everyByte());
        QVERIFY(!received.isEmpty());
        // As text every byte is one character with the byte's value.
        QVERIFY(pty.send(QByteArray("\xe9\x0a", 2)));
        QTRY_COMPARE(ch.bytesWaiting(), qint64(2));
        QCOMPARE(ch.readAllText(), QString::fromLatin1("\xe9\n"));
        ch.close();
        QVERIFY(pty.waitStationOpen(false, 2000));
    }

    void noReceiveEventsBelowThreshold() {
        Pty pty;
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        QVERIFY(ch.open());
        QSignalSpy received(&ch, &Channel::received);
        QVERIFY(pty.send("held"));
        QTRY_COMPARE(ch.bytesWaiting(), qint64(4));
        QCOMPARE(received.count(), 0);
        ch.discardInput();
        QCOMPARE(ch.bytesWaiting(), qint64(0));
        ch.setReceiveThreshold(1);
        QVERIFY(pty.send("x"));
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(ch.readAll(), QByteArray("x"));
    }

    void lineSettingAppliesAtOnceOnOpenChannel() {
        Pty pty;
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm3"), QStringLiteral("the MSComm3 channel"), 1);
        QVERIFY(ch.setSettings(QStringLiteral("115200,n,8,1")));
        QVERIFY(ch.open());
        QCOMPARE(pty.stationBaud(), 115200);
        QCOMPARE(pty.stationParity(), 'n');
        QVERIFY(ch.setSettings(QStringLiteral("9600,e,8,1")));
        QCOMPARE(pty.stationBaud(), 9600);
        QCOMPARE(pty.stationParity(), 'e');
        QVERIFY(ch.setSettings(QStringLiteral("19200,o,8,1")));
        QCOMPARE(pty.stationParity(), 'o');
        QVERIFY(!ch.setSettings(QStringLiteral("fast,x,8,1")));
        QCOMPARE(ch.settings(), QStringLiteral("19200,o,8,1"));
        // With parity checked, an FF byte from the line is still one FF.
        QVERIFY(pty.send(QByteArray("\xff\x00\xff"
                                    "A",
                                    4)));
        QCOMPARE(readFrom(ch, 4), QByteArray("\xff\x00\xff"
                                             "A",
                                             4));
        QVERIFY(ch.setSettings(QStringLiteral("19200,n,8,1")));
        QCOMPARE(pty.stationParity(), 'n');
    }

    void parityMarksBecomeQuestionMarks() {
        QByteArray carry;
        QCOMPARE(decodeParityMarks(carry, QByteArray("A\xff\x00\x41"
                                                     "B",
                                                     5)),
                 QByteArray("A?B"));
        QVERIFY(carry.isEmpty());
        QCOMPARE(decodeParityMarks(carry, QByteArray("\xff\xff", 2)), QByteArray("\xff"));
        // A mark split over two reads.
        QCOMPARE(decodeParityMarks(carry, QByteArray("x\xff", 2)), QByteArray("x"));
        QCOMPARE(carry, QByteArray("\xff"));
        QCOMPARE(decodeParityMarks(carry, QByteArray("\x00", 1)), QByteArray());
        QCOMPARE(decodeParityMarks(carry, QByteArray("\x07y", 2)), QByteArray("?y"));
        QVERIFY(carry.isEmpty());
        QCOMPARE(decodeParityMarks(carry, QByteArray("\xff", 1)), QByteArray());
        QCOMPARE(decodeParityMarks(carry, QByteArray("\xff", 1)), QByteArray("\xff"));
    }

    void portChoiceWaitsForNextOpen() {
        Pty one, two;
        wire(1, one);
        wire(2, two);
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        QVERIFY(ch.open());
        ch.setPort(2);
        QVERIFY(ch.write("a"));
        QCOMPARE(one.receive(1, 2000), QByteArray("a"));
        ch.close();
        QVERIFY(one.waitStationOpen(false, 2000));
        QVERIFY(ch.open());
        QVERIFY(two.waitStationOpen(true, 2000));
        QVERIFY(ch.write("b"));
        QCOMPARE(two.receive(1, 2000), QByteArray("b"));
    }

    void closeDeliversEverythingHandedOver() {
        Pty pty;
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm2"), QStringLiteral("the MSComm2 channel"), 1);
        QVERIFY(ch.open());
        QByteArray big;
        for (int i = 0; i < 200; ++i)
            big += everyByte();
        QVERIFY(ch.write(big));
        ch.close(); // far more than the line's buffers hold is still queued
        QVERIFY(!ch.isOpen());
        QVERIFY(!ch.write("late"));
        QCOMPARE(pty.receive(big.size(), 10000), big);
        QVERIFY(pty.waitStationOpen(false, 5000));
    }

    void reopenWhileDrainingKeepsQueuedBytes() {
        Pty pty;
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        QVERIFY(ch.open());
        QByteArray big(50000, 'x');
        QVERIFY(ch.write(big));
        ch.close();
        QVERIFY(ch.open());
        QVERIFY(ch.write("END"));
        QCOMPARE(pty.receive(big.size() + 3, 10000), big + "END");
    }

    void secondChannelOnHeldDeviceIsRefused() {
        Pty pty;
        wire(1, pty);
        SerialChannel polling(QStringLiteral("MSComm3"), QStringLiteral("the MSComm3 channel"), 1);
        SerialChannel text(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        QVERIFY(polling.open());
        QString error;
        QVERIFY(!text.open(&error));
        QVERIFY(!text.isOpen());
        QVERIFY2(error.contains(QLatin1String("COM 1")), qPrintable(error));
        QVERIFY2(error.contains(pty.stationPath()), qPrintable(error));
        QVERIFY(polling.isOpen());
        QVERIFY(polling.open()); // asking again is harmless
        polling.close();
        QVERIFY(text.open(&error));
    }

    void missingDeviceIsReportedWithItsName() {
        qputenv("RAVA2_COM3", "/nonexistent/rava-port");
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 0);
        ch.setPort(3);
        QString error;
        QVERIFY(!ch.open(&error));
        QVERIFY2(error.contains(QLatin1String("COM 3")), qPrintable(error));
        QVERIFY2(error.contains(QLatin1String("/nonexistent/rava-port")), qPrintable(error));
        // The variable behind the device, so that the user knows what to fix.
        QVERIFY2(error.contains(QLatin1String("RAVA2_COM3")), qPrintable(error));
        QVERIFY(!ch.isOpen());
        QVERIFY(!ch.write("x"));
        QCOMPARE(ch.readAll(), QByteArray());
    }

    void vanishingDeviceClosesTheChannel() {
        auto pty = std::make_unique<Pty>();
        wire(1, *pty);
        SerialChannel ch(QStringLiteral("MSComm1"), QStringLiteral("the MSComm1 channel"), 1);
        QVERIFY(ch.open());
        const QString device = ch.devicePath();
        // Choosing another port while open changes nothing for the device
        // held: the message names the one that went away.
        ch.setPort(2);
        QSignalSpy lost(&ch, &Channel::lost);
        pty.reset();
        QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
        QVERIFY(!ch.isOpen());
        const QString reason = lost.first().first().toString();
        QVERIFY2(reason.contains(QLatin1String("COM 1")), qPrintable(reason));
        QVERIFY2(reason.contains(device), qPrintable(reason));
    }

    // With a trace file, every write and every receive event of a channel
    // is one line: time, channel, direction, length, bytes in hex.
    void traceRecordsWhatCrossesTheLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wire.trace"));
        WireTrace::restart(path);
        Pty pty;
        wire(1, pty);
        SerialChannel ch(QStringLiteral("MSComm3"), QStringLiteral("the polling channel"), 1);
        ch.setTraceName(QStringLiteral("polling"));
        QVERIFY(ch.open());
        QVERIFY(ch.write(QByteArray("\x05"
                                    "AB\r\n",
                                    5)));
        QCOMPARE(pty.receive(5, 3000), QByteArray("\x05"
                                                  "AB\r\n",
                                                  5));
        QVERIFY(pty.send(QByteArray("\xff"
                                    "ok",
                                    3)));
        QCOMPARE(readFrom(ch, 3), QByteArray("\xff"
                                             "ok",
                                             3));
        ch.close();
        WireTrace::restart(QString()); // off again: nothing more is written
        QVERIFY(ch.open());
        QVERIFY(ch.write("late"));
        ch.close();

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        double previous = 0;
        const QByteArray tails[] = {"polling out 5 0541420d0a", "polling in 3 ff6f6b"};
        for (int i = 0; i < 2; ++i) {
            const QList<QByteArray> f = lines[i].split(' ');
            QCOMPARE(f.size(), 5);
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d{3}$"))
                         .match(QString::fromLatin1(f[0]))
                         .hasMatch(),
                     lines[i].constData());
            QVERIFY(f[0].toDouble() >= previous);
            previous = f[0].toDouble();
            QCOMPARE(lines[i].mid(f[0].size() + 1), tails[i]);
        }
    }

    void portAndLineChoicesReachTheRightChannels() {
        StationSettings settings;
        StationLink link(settings);
        settings.setPort(3);
        QCOMPARE(link.textChannel().port(), 3);
        QCOMPARE(link.imageChannel().port(), 3);
        QCOMPARE(link.pollingChannel().port(), 3);
        QCOMPARE(link.programmingChannel().port(), 1);
        settings.setPort(8); // no such entry
        QCOMPARE(link.textChannel().port(), 3);

        settings.setLineSetting(2); // "9600.even,8,1"
        for (SerialChannel* ch : {&link.textChannel(), &link.imageChannel(), &link.pollingChannel(),
                                  &link.programmingChannel()})
            QCOMPARE(ch->settings(), QStringLiteral("9600,e,8,1"));
        settings.setLineSetting(12); // no such entry
        QCOMPARE(settings.lineSetting(), 2);
        QCOMPARE(link.programmingChannel().settings(), QStringLiteral("9600,e,8,1"));
    }
};

QTEST_GUILESS_MAIN(SerialChannelTest)
#include "test_serial_channel.moc"
