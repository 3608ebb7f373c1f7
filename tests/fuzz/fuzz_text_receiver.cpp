// Text lines both ways. The input after two set-up bytes is a text file: it
// splits into the lines the box shows, and their writes, cut anywhere, come
// out of a receiver as the same lines with the sender's address. The same
// bytes are also a program for a receiver fed garbage: chunks, Break,
// Receive, a lost device, the idle timeout. No byte is lost or invented: the
// lines reported, each with its sender byte (master) and a line feed, are
// what arrived while receiving (a line cut short by the end counts as ended).
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "text_transfer/text_lines.h"
#include "text_transfer/text_receiver.h"

#include <QStringList>

using namespace rava;
using namespace rava::text;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::makeApplication<QCoreApplication>(); // for the timers
    fuzz::Input in(data, size);
    const bool master = in.byte() & 1;
    const int address = in.byte();
    StationSettings settings;
    settings.setMode(master ? Mode::Master : Mode::Slave);
    test::FakeChannel channel;
    TextReceiver rx(channel, settings);
    auto* idle = rx.findChild<OneShot*>(QStringLiteral("Timer2"));
    QByteArray shown; // every line as it came: sender byte (master), line, LF
    int lines = 0;
    int failures = 0;
    QObject::connect(&rx, &TextReceiver::lineReceived, [&](const QByteArray& line, int from) {
        FUZZ_CHECK(from >= 0 && from <= 255 && (master || from == 0));
        shown += (master ? QByteArray(1, char(from)) : QByteArray()) + line + '\n';
        ++lines;
    });
    QObject::connect(&rx, &TextReceiver::failed, [&] { ++failures; });

    const QByteArray file = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).mid(2);
    QString text = QString::fromLatin1(file);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    FUZZ_CHECK(shownText(file.constData(), file.size()) == text);
    QStringList want = text.split(u'\n');
    if (text.isEmpty() || text.endsWith(u'\n'))
        want.removeLast();
    const QList<QByteArray> split = splitLines(file);
    FUZZ_CHECK(split.size() == want.size() && countLines(file) == split.size());
    QByteArray expected;
    FUZZ_CHECK(rx.receive());
    for (int i = 0; i < split.size(); ++i) {
        FUZZ_CHECK(split[i] == want[i].toLatin1());
        const QByteArray wire = lineOnWire(split[i], master, address);
        for (qsizetype at = 0; at < wire.size(); at += 1 + (address + i) % 7)
            channel.inject(wire.mid(at, 1 + (address + i) % 7));
        expected += (master ? QByteArray(1, char(address)) : QByteArray()) + split[i] + "\r\n";
    }
    rx.stop();
    FUZZ_CHECK(shown == expected && lines == split.size());

    shown.clear();
    QByteArray arrived; // while receiving, with a line feed for a line ended early
    int losses = 0;
    bool any = false; // something arrived in this reception
    FUZZ_CHECK(rx.receive());
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        int ended = lines; // lines ended by Break, a loss or the timeout: counted below
        if (op % 8 == 6) {
            const bool busy = rx.isBusy();
            FUZZ_CHECK(rx.receive() == !busy);
            any = any && busy;
        } else if (op % 8 == 5 || in.atEnd()) {
            rx.stop();
        } else if (op % 8 == 7 && channel.isOpen()) {
            ++losses;
            channel.close();
            emit channel.lost(QStringLiteral("gone"));
        } else if (op % 8 == 4 && idle->isActive()) {
            fuzz::fire(idle);
        } else {
            const QByteArray chunk = in.bytes(op / 8 + 1);
            if (channel.isOpen() && !chunk.isEmpty()) {
                arrived += chunk;
                any = true;
            }
            channel.inject(chunk);
            ended = lines; // these ended at a line feed
        }
        if (lines != ended)
            arrived += '\n';
        FUZZ_CHECK(channel.isOpen() == rx.isBusy() && failures == losses);
        FUZZ_CHECK(idle->isActive() == (rx.isBusy() && any));
        FUZZ_CHECK(rx.isBusy() ? arrived.startsWith(shown) : arrived == shown);
    }
    return 0;
}
