// The register programmer fed whatever the line brings: any bytes in any
// pieces at any point of an operation, timeouts, a lost device, a refused
// open, requests while busy. Every started operation ends exactly once, with
// the outcome the first reply byte calls for; the wire carries exactly the
// requests; the channel is open exactly while an operation runs.
#include "form/number_rule.h"
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "register_programming/register_programmer.h"
#include "support/fake_channel.h"

#include <QList>

using namespace rava;
using namespace rava::registers;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    test::FakeChannel channel;
    RegisterProgrammer prog(channel);
    auto* settle = prog.findChild<OneShot*>(QStringLiteral("Timer3"));
    auto* reply = prog.findChild<OneShot*>(QStringLiteral("Timer6"));
    FUZZ_CHECK(settle && reply);

    QList<Outcome> outcomes;
    QObject::connect(&prog, &RegisterProgrammer::finished,
                     [&](const Outcome& o) { outcomes.append(o); });

    // What the programmer should be doing.
    enum class S { Idle, Settling, Awaiting } state = S::Idle;
    Operation op = Operation::ReadAddress;
    double requested = 0;
    QByteArray wire; // every byte that should have been written
    int started = 0;

    auto expectEnd = [&](Outcome::Kind kind, int value) {
        FUZZ_CHECK(outcomes.size() == started);
        const Outcome& o = outcomes.back();
        FUZZ_CHECK(o.operation == op);
        FUZZ_CHECK(o.kind == kind);
        FUZZ_CHECK(o.value == value);
        state = S::Idle;
    };

    while (!in.atEnd()) {
        const std::uint8_t code = in.byte();
        switch (code % 8) {
        case 0: { // a button: one of the four operations
            const Operation next = Operation(1 + (code >> 3) % 4);
            const double value = in.byte() + in.byte() / 4.0 - 8; // -8 to 263.75
            const bool busy = state != S::Idle;
            const bool ran = prog.start(next, value);
            FUZZ_CHECK(ran == !busy);
            if (busy)
                break;
            ++started;
            op = next;
            requested = isWrite(op) ? value : 0;
            const Register reg = registerOf(op);
            if (isWrite(op) && !(value >= 0 && value <= 255)) {
                expectEnd(Outcome::Kind::OutOfRange, -1);
            } else if (channel.failOpen) {
                expectEnd(Outcome::Kind::OpenFailed, -1);
            } else if (isWrite(op)) {
                wire += writeRequest(reg, quint8(roundHalfEven(value)));
                state = S::Settling;
            } else {
                wire += readRequest(reg);
                state = S::Awaiting;
            }
            break;
        }
        case 1: // the settle wait ends
            if (settle->isActive()) {
                FUZZ_CHECK(state == S::Settling);
                settle->stop(); // as a tick leaves it
                emit settle->fired();
                wire += readRequest(registerOf(op));
                state = S::Awaiting;
            }
            break;
        case 2: // the reply timeout
            if (reply->isActive()) {
                FUZZ_CHECK(state == S::Awaiting);
                reply->stop();
                emit reply->fired();
                expectEnd(Outcome::Kind::NoReply, -1);
            }
            break;
        case 3: // the device goes away
            if (channel.isOpen()) {
                channel.close();
                emit channel.lost(QStringLiteral("gone"));
                expectEnd(Outcome::Kind::ChannelLost, -1);
            }
            break;
        case 4: // the next open is refused, or allowed again
            channel.failOpen = code & 8;
            break;
        default: { // bytes from the module
            const QByteArray bytes = in.bytes((code >> 3) + 1);
            channel.inject(bytes);
            if (state == S::Awaiting && !bytes.isEmpty()) {
                const int value = quint8(bytes[0]);
                if (!isWrite(op))
                    expectEnd(Outcome::Kind::Value, value);
                else if (requested == value)
                    expectEnd(Outcome::Kind::Done, value);
                else
                    expectEnd(Outcome::Kind::Mismatch, value);
            }
        }
        }
        FUZZ_CHECK(outcomes.size() == started - (state != S::Idle ? 1 : 0));
        FUZZ_CHECK(prog.isBusy() == (state != S::Idle));
        FUZZ_CHECK(channel.isOpen() == (state != S::Idle));
        FUZZ_CHECK(settle->isActive() == (state == S::Settling));
        FUZZ_CHECK(reply->isActive() == (state == S::Awaiting));
        FUZZ_CHECK(channel.allWritten() == wire);
    }
    return 0;
}
