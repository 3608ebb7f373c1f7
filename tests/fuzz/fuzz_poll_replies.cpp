// Polling fed whatever the line brings, in any pieces, cut into messages by
// the silence timer; the collector holds exactly what came since the last
// message. A master, with rows edited between turns, End and Start, pauses
// and holds running out: every query on the wire is a checked row's address
// byte and command; a reply is the outcome of the first row whose address
// byte is its first byte: ReplyOk with its text, or WrongCommand for the
// not-recognised byte alone, and a hold running out is that row's HoldOver. A slave, with any
// command and reply in its boxes, writes the reply exactly when the whole message equals the
// command, byte for character, else the not-recognised byte.
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/slave_responder.h"
#include "support/fake_channel.h"

using namespace rava;
using namespace rava::polling;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::makeApplication<QCoreApplication>(); // for the timers
    fuzz::Input in(data, size);
    const bool master = in.byte() & 1;
    PollTable table;
    auto editRow = [&](int i) {
        table.setEnabled(i, in.byte() & 1);
        table.setAddress(i, in.byte() % 8 == 0 ? 300 : in.byte() % 6); // 300: no byte, kept as 0
        table.setCommand(i, QString::fromLatin1(in.bytes(in.byte() % 8)));
    };
    for (int i = 1; i <= PollTable::kRows; ++i)
        editRow(i);
    SlaveAnswer answer;
    answer.command = in.text(in.byte() % 12);
    answer.reply = in.text(in.byte() % 12);

    test::FakeChannel channel;
    const Timings timings;
    MessageCollector collector(channel, timings);
    MasterPoller poller(collector, table, timings); // each answers only once started
    SlaveResponder slave(collector, answer, timings);
    std::optional<MasterOutcome> shown;
    std::optional<SlaveOutcome> said;
    QObject::connect(&poller, &MasterPoller::outcome, [&](const MasterOutcome& o) { shown = o; });
    QObject::connect(&slave, &SlaveResponder::outcome, [&](const SlaveOutcome& o) { said = o; });
    auto* silence = collector.findChild<OneShot*>(QStringLiteral("Timer8"));
    auto* pause = poller.findChild<OneShot*>(QStringLiteral("Timer7"));
    QByteArray wire;         // what should have been written
    QByteArray pending;      // what the collector should be holding
    bool discarding = false; // past the bound: input dropped until the silence
    QObject::connect(&poller, &MasterPoller::queried, [&](int row, const QByteArray& query) {
        const PollRow& r = table.row(row);
        FUZZ_CHECK(r.enabled && r.address >= 0 && r.address <= 255 &&
                   query == char(r.address) + r.command.toLatin1());
        wire += query;
    });
    auto running = [&] { return master ? poller.isRunning() : slave.isListening(); };
    FUZZ_CHECK(master ? poller.start() : slave.listen());

    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        const int i = 1 + (op >> 3) % PollTable::kRows;
        auto* hold = poller.findChild<OneShot*>(QStringLiteral("display hold %1").arg(i));
        if (op % 8 == 0 && discarding) { // what went past the bound ends
            fuzz::fire(silence);
            discarding = false;
        } else if (op % 8 == 0 && silence->isActive()) { // a message ends
            const QByteArray message = pending;
            const bool equal = QString::fromLatin1(message) == answer.command;
            wire += master ? QByteArray() : equal ? answer.reply.toLatin1() : QByteArray(1, '\x0f');
            int row = 1;
            while (row <= PollTable::kRows && table.row(row).address != quint8(message[0]))
                ++row;
            pending.clear();
            shown.reset();
            said.reset();
            fuzz::fire(silence);
            FUZZ_CHECK(master || (said && (equal ? std::holds_alternative<Answered>(*said)
                                                 : std::holds_alternative<Refused>(*said))));
            if (master && row <= PollTable::kRows) {
                const bool wrong = message.mid(1) == "\x0f";
                const auto* ok = shown ? std::get_if<ReplyOk>(&*shown) : nullptr;
                const auto* bad = shown ? std::get_if<WrongCommand>(&*shown) : nullptr;
                FUZZ_CHECK(wrong ? bad && bad->row == row
                                 : ok && ok->row == row &&
                                       ok->text == QString::fromLatin1(message.mid(1)));
            } else if (master) {
                const auto* stray = shown ? std::get_if<UnknownSender>(&*shown) : nullptr;
                FUZZ_CHECK(stray && stray->address == quint8(message[0]));
            }
        } else if (op % 8 == 1 && pause->isActive()) {
            fuzz::fire(pause);
        } else if (op % 8 == 2 && hold->isActive()) {
            shown.reset();
            fuzz::fire(hold);
            const auto* over = shown ? std::get_if<HoldOver>(&*shown) : nullptr;
            FUZZ_CHECK(over && over->row == i);
        } else if (op % 8 == 3 && master) {
            editRow(i);
        } else if (op % 8 == 3) {
            answer.command = in.text(op >> 4);
        } else if (op % 8 == 4) { // End and Start, or leaving the tab and coming back
            if (running())
                master ? poller.end() : slave.stopListening();
            else
                FUZZ_CHECK(master ? poller.start() : slave.listen());
            pending.clear();
            discarding = false;
        } else {
            const QByteArray bytes = in.bytes((op >> 3) + 1);
            const bool before = discarding;
            said.reset();
            channel.inject(bytes);
            pending += running() && !discarding ? bytes : QByteArray();
            if (pending.size() > MessageCollector::kMaxMessage) {
                pending.clear();
                discarding = true;
                FUZZ_CHECK(master || (said && std::holds_alternative<TooLong>(*said)));
            }
            FUZZ_CHECK(before || discarding || !said);
        }
        FUZZ_CHECK(channel.isOpen() == running());
        FUZZ_CHECK(collector.pending() == pending &&
                   silence->isActive() == (discarding || !pending.isEmpty()));
        FUZZ_CHECK(channel.allWritten() == wire);
    }
    return 0;
}
