// Text line assembly on an in-memory channel: the input is a program of
// received chunks (split wherever the input says), Break, Receive, a lost
// device, the idle timeout and mode changes. The lines reported, with their
// senders, must be exactly those of a plain byte-by-byte reading of what
// arrived while receiving; the channel is open exactly while receiving.
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "text_transfer/text_receiver.h"

#include <QList>
#include <QPair>

using namespace rava;
using namespace rava::text;

namespace {

// The receiver as a plain reading of the bytes, one at a time.
struct Model {
    bool busy = false;
    bool any = false; // something arrived since Receive: the idle timeout runs
    bool started = false;
    int sender = 0;
    QByteArray partial;
    QList<QPair<int, QByteArray>> lines;

    void receive() {
        if (busy)
            return;
        busy = true;
        any = false;
        started = false;
        partial.clear();
    }
    void bytes(const QByteArray& b, bool master) {
        if (!busy || b.isEmpty())
            return;
        any = true;
        for (char c : b) {
            if (!started) {
                started = true;
                sender = 0;
                if (master) {
                    sender = static_cast<unsigned char>(c);
                    continue;
                }
            }
            if (c == '\n') {
                lines.append({sender, partial});
                partial.clear();
                started = false;
            } else {
                partial.append(c);
            }
        }
    }
    void end() {
        if (!busy)
            return;
        if (started)
            lines.append({sender, partial});
        partial.clear();
        started = false;
        busy = false;
        any = false;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    StationSettings settings;
    settings.setMode(in.byte() & 1 ? Mode::Master : Mode::Slave);
    test::FakeChannel channel;
    TextReceiver rx(channel, settings);
    auto* idle = rx.findChild<OneShot*>(QStringLiteral("Timer2"));
    FUZZ_CHECK(idle);

    QList<QPair<int, QByteArray>> got;
    int failures = 0;
    QObject::connect(&rx, &TextReceiver::lineReceived, [&](const QByteArray& line, int sender) {
        got.append({sender, line});
    });
    QObject::connect(&rx, &TextReceiver::failed,
                     [&](ReceiveFailure, const QString&) { ++failures; });

    Model model;
    int expectedFailures = 0;
    FUZZ_CHECK(rx.receive());
    model.receive();

    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        switch (op % 10) {
        case 6: // Break
            rx.stop();
            model.end();
            break;
        case 7: // Receive, also while one runs (refused then)
            FUZZ_CHECK(rx.receive() == !model.busy);
            model.receive();
            break;
        case 8: // the device goes away
            if (channel.isOpen()) {
                channel.close();
                emit channel.lost(QStringLiteral("gone"));
                ++expectedFailures;
                model.end();
            }
            break;
        case 9: // the idle timeout fires, or the mode changes between lines
            if (op & 0x10) {
                settings.setMode(settings.isMaster() ? Mode::Slave : Mode::Master);
            } else if (idle->isActive()) {
                FUZZ_CHECK(model.any);
                idle->stop(); // as a tick leaves it
                emit idle->fired();
                model.end();
            }
            break;
        default: { // a chunk off the line
            const QByteArray chunk = in.bytes(op / 10 + 1);
            channel.inject(chunk);
            model.bytes(chunk, settings.isMaster());
        }
        }
        FUZZ_CHECK(rx.isBusy() == model.busy);
        FUZZ_CHECK(channel.isOpen() == model.busy);
        FUZZ_CHECK(idle->isActive() == (model.busy && model.any));
        FUZZ_CHECK(got == model.lines);
    }
    rx.stop();
    model.end();
    FUZZ_CHECK(got == model.lines);
    FUZZ_CHECK(failures == expectedFailures);
    FUZZ_CHECK(!channel.isOpen() && !idle->isActive());
    return 0;
}
