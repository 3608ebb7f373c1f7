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

namespace {

struct Receiver {
    StationSettings settings;
    test::FakeChannel channel;
    TextReceiver rx{channel, settings};
    OneShot* idle = rx.findChild<OneShot*>(QStringLiteral("Timer2"));
    QByteArray shown; // every line as it came: sender byte (master), line, LF
    int lines = 0;
    int failures = 0;

    explicit Receiver(bool master) {
        settings.setMode(master ? Mode::Master : Mode::Slave);
        QObject::connect(&rx, &TextReceiver::lineReceived, [this](const QByteArray& l, int from) {
            FUZZ_CHECK(from >= 0 && from <= 255 && (settings.isMaster() || from == 0));
            shown += (settings.isMaster() ? QByteArray(1, char(from)) : QByteArray()) + l + '\n';
            ++lines;
        });
        QObject::connect(&rx, &TextReceiver::failed, [this] { ++failures; });
        FUZZ_CHECK(idle && rx.receive());
    }
};

void checkFile(const QByteArray& file, bool master, int address) {
    QString shown = QString::fromLatin1(file);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    FUZZ_CHECK(shownText(file.constData(), file.size()) == shown);
    QStringList want = shown.split(u'\n');
    if (shown.isEmpty() || shown.endsWith(u'\n'))
        want.removeLast();
    const QList<QByteArray> lines = splitLines(file);
    FUZZ_CHECK(lines.size() == want.size() && countLines(file) == lines.size());
    Receiver r(master);
    QByteArray expected;
    for (int i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(lines[i] == want[i].toLatin1());
        const QByteArray wire = lineOnWire(lines[i], master, address);
        for (qsizetype at = 0; at < wire.size(); at += 1 + (address + i) % 7)
            r.channel.inject(wire.mid(at, 1 + (address + i) % 7));
        expected += (master ? QByteArray(1, char(address)) : QByteArray()) + lines[i] + "\r\n";
    }
    r.rx.stop();
    FUZZ_CHECK(r.shown == expected && r.lines == lines.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::makeApplication<QCoreApplication>(); // for the timers
    fuzz::Input in(data, size);
    const bool master = in.byte() & 1;
    const int address = in.byte();
    checkFile(fuzz::Input(data, size).rest().mid(2), master, address);

    Receiver r(master);
    QByteArray arrived; // while receiving, with a line feed for a line ended early
    int losses = 0;
    bool any = false; // something arrived in this reception
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        int ended = r.lines; // lines ended by Break, a loss or the timeout: counted below
        if (op % 8 == 6) {
            const bool busy = r.rx.isBusy();
            FUZZ_CHECK(r.rx.receive() == !busy);
            any = any && busy;
        } else if (op % 8 == 5 || in.atEnd()) {
            r.rx.stop();
        } else if (op % 8 == 7 && r.channel.isOpen()) {
            ++losses;
            r.channel.close();
            emit r.channel.lost(QStringLiteral("gone"));
        } else if (op % 8 == 4 && r.idle->isActive()) {
            fuzz::fire(r.idle);
        } else {
            const QByteArray chunk = in.bytes(op / 8 + 1);
            if (r.channel.isOpen() && !chunk.isEmpty()) {
                arrived += chunk;
                any = true;
            }
            r.channel.inject(chunk);
            ended = r.lines; // these ended at a line feed
        }
        if (r.lines != ended)
            arrived += '\n';
        FUZZ_CHECK(r.channel.isOpen() == r.rx.isBusy() && r.failures == losses);
        FUZZ_CHECK(r.idle->isActive() == (r.rx.isBusy() && any));
        FUZZ_CHECK(r.rx.isBusy() ? arrived.startsWith(r.shown) : arrived == r.shown);
    }
    return 0;
}
