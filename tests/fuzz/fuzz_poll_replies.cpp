// The master side of polling fed whatever the line brings: replies cut out
// by the silence timer in any pieces, rows edited between turns, End and
// Start, pauses and holds running out. A reply lights the first row whose
// address byte is its first byte, with its text on green or "Wrong
// command!" on red; a reply for no row changes nothing; every query on the
// wire is the row's address byte and command.
#include "form/number_rule.h"
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/poll_table.h"
#include "support/fake_channel.h"

#include <QList>

using namespace rava;
using namespace rava::polling;

namespace {

// A row's address byte the plain way: the leading number rounded half to
// even when it is 0..255, else 0.
int addressOf(const QString& text) {
    const double v = roundHalfEven(leadingNumber(text));
    return v >= 0 && v <= 255 ? int(v) : 0;
}

void fire(OneShot* t) {
    t->stop(); // as a tick leaves it
    emit t->fired();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    test::FakeChannel channel;
    PollTable table;
    MessageCollector collector(channel);
    MasterPoller poller(channel, collector, table);
    auto* silence = collector.findChild<OneShot*>(QStringLiteral("Timer8"));
    auto* pause = poller.findChild<OneShot*>(QStringLiteral("Timer7"));
    FUZZ_CHECK(silence && pause);

    QByteArray expectedWire;
    QList<int> replied;
    QObject::connect(&poller, &MasterPoller::queried, [&](int row, const QByteArray& q) {
        FUZZ_CHECK(table.row(row).enabled);
        QByteArray want(1, char(addressOf(table.row(row).address)));
        want += table.row(row).command.toLatin1();
        FUZZ_CHECK(q == want);
        expectedWire += q;
    });
    QObject::connect(&poller, &MasterPoller::replied,
                     [&](int row, const QByteArray&) { replied.append(row); });

    auto editRow = [&](int i) {
        table.setEnabled(i, in.byte() & 1);
        table.setAddress(i, QString::fromLatin1(in.bytes(in.byte() % 6)));
        table.setCommand(i, QString::fromLatin1(in.bytes(in.byte() % 8)));
    };
    for (int i = 1; i <= PollTable::kRows; ++i)
        editRow(i);
    FUZZ_CHECK(poller.start());

    QByteArray pending; // what the collector should be holding
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
        case 0: { // the end-of-message silence: a whole reply
            if (!silence->isActive())
                break;
            const QByteArray message = pending;
            pending.clear();
            replied.clear();
            fire(silence);
            FUZZ_CHECK(replied.size() == 1);
            int row = 0;
            for (int i = 1; i <= PollTable::kRows && !row; ++i)
                if (addressOf(table.row(i).address) == quint8(message[0]))
                    row = i;
            FUZZ_CHECK(replied.first() == row);
            if (row) {
                const QByteArray text = message.mid(1);
                const PollRow& r = table.row(row);
                if (text == QByteArray(1, kNotRecognised)) {
                    FUZZ_CHECK(r.light == Light::Red && r.reply == QLatin1String("Wrong command!"));
                } else {
                    FUZZ_CHECK(r.light == Light::Green);
                    FUZZ_CHECK(r.reply == QString::fromLatin1(text));
                }
            }
            break;
        }
        case 1: // the poll pause runs out
            if (pause->isActive())
                fire(pause);
            break;
        case 2: { // a display hold runs out
            const int i = 1 + (op >> 3) % PollTable::kRows;
            auto* hold = poller.findChild<OneShot*>(QStringLiteral("display hold %1").arg(i));
            FUZZ_CHECK(hold);
            if (hold->isActive()) {
                fire(hold);
                FUZZ_CHECK(table.row(i).light == Light::White && table.row(i).reply.isEmpty());
            }
            break;
        }
        case 3: // the user edits a row
            editRow(1 + (op >> 3) % PollTable::kRows);
            break;
        case 4: // End, or Start again
            if (poller.isRunning()) {
                poller.end();
                pending.clear();
                FUZZ_CHECK(!channel.isOpen() && !silence->isActive() && !pause->isActive());
            } else {
                FUZZ_CHECK(poller.start());
            }
            break;
        default: { // bytes from the line
            const QByteArray bytes = in.bytes((op >> 3) + 1);
            channel.inject(bytes);
            if (poller.isRunning())
                pending += bytes;
        }
        }
        FUZZ_CHECK(channel.isOpen() == poller.isRunning());
        FUZZ_CHECK(collector.pending() == pending);
        FUZZ_CHECK(silence->isActive() == !pending.isEmpty());
        FUZZ_CHECK(channel.allWritten() == expectedWire);
    }
    return 0;
}
