// The register programmer fed whatever the line brings: any bytes in any
// pieces at any point of an operation, timeouts, a lost device, a refused
// open, requests while busy. Every started operation ends exactly once, with
// the outcome the first reply byte calls for; the wire carries exactly the
// requests; the channel is open exactly while an operation runs.
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "numbers/number_rule.h"
#include "register_programming/register_programmer.h"
#include "support/fake_channel.h"

#include <optional>

using namespace rava;
using namespace rava::registers;
using Kind = Outcome::Kind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::makeApplication<QCoreApplication>(); // for the timers
    fuzz::Input in(data, size);
    test::FakeChannel channel;
    RegisterProgrammer prog(channel);
    auto* settle = prog.findChild<OneShot*>(QStringLiteral("Timer3"));
    auto* reply = prog.findChild<OneShot*>(QStringLiteral("Timer6"));
    int outcomes = 0;
    Outcome last;
    QObject::connect(&prog, &RegisterProgrammer::finished, [&](const Outcome& o) {
        ++outcomes;
        last = o;
    });

    int op = 0; // the operation under way or last ended: 1..4, odd ones write
    double requested = 0;
    int started = 0;
    std::optional<Kind> want; // how it should have ended, once it should have
    int wantValue = -1;
    QByteArray wire; // every byte that should have been written
    auto request = [&](char what) { wire += QByteArray(1, what) + char(op <= 2 ? 0 : 3); };

    while (!in.atEnd()) {
        const std::uint8_t code = in.byte();
        if (code % 8 == 0) { // a button: one of the four operations
            const int next = 1 + (code >> 3) % 4;
            const int whole = in.byte();
            const double value = whole + in.byte() / 4.0 - 8; // -8 to 263.75
            const bool busy = prog.isBusy();
            FUZZ_CHECK(prog.start(Operation(next), value) == !busy);
            if (busy)
                continue;
            ++started;
            op = next;
            requested = value;
            want.reset();
            wantValue = -1;
            if (op % 2 && !(value >= 0 && value <= 255)) {
                want = Kind::OutOfRange;
            } else if (channel.failOpen) {
                want = Kind::OpenFailed;
            } else {
                request(op % 2 ? '#' : '$');
                wire += op % 2 ? QByteArray(1, char(quint8(roundHalfEven(value)))) : QByteArray();
            }
        } else if (code % 8 == 1 && settle->isActive()) { // the settle wait ends
            fuzz::fire(settle);
            request('$');
        } else if (code % 8 == 2 && reply->isActive()) {
            fuzz::fire(reply);
            want = Kind::NoReply;
        } else if (code % 8 == 3 && channel.isOpen()) { // the device goes away
            channel.close();
            emit channel.lost(QStringLiteral("gone"));
            want = Kind::ChannelLost;
        } else if (code % 8 == 4) { // the next open is refused, or allowed again
            channel.failOpen = code & 8;
        } else { // bytes from the module: only a reply's first byte counts
            const QByteArray bytes = in.bytes((code >> 3) + 1);
            if (reply->isActive() && !bytes.isEmpty()) {
                wantValue = quint8(bytes[0]);
                want = op % 2 == 0              ? Kind::Value
                       : requested == wantValue ? Kind::Done
                                                : Kind::Mismatch;
            }
            channel.inject(bytes);
        }
        FUZZ_CHECK(outcomes == started - prog.isBusy() && channel.isOpen() == prog.isBusy());
        FUZZ_CHECK(prog.isBusy() == (settle->isActive() != reply->isActive()));
        FUZZ_CHECK(
            prog.isBusy() || !started ||
            (want == last.kind && last.value == wantValue && last.operation == Operation(op)));
        FUZZ_CHECK(channel.allWritten() == wire);
    }
    return 0;
}
