// The slave's comparison and answer: any command and reply typed in the
// boxes, any message off the line in any pieces. The slave writes its reply
// exactly when the whole message equals the command, byte for character,
// and the single not-recognised byte otherwise; its light says which.
#include "fuzz_support.h"
#include "link/one_shot.h"
#include "polling/message_collector.h"
#include "polling/slave_responder.h"
#include "support/fake_channel.h"

using namespace rava;
using namespace rava::polling;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    SlaveAnswer answer;
    // Boxes hold any characters: Latin-1 bytes, or UTF-16 when the flag says.
    auto text = [&](std::size_t n) {
        const QByteArray b = in.bytes(n);
        if (in.byte() & 1)
            return QString(reinterpret_cast<const QChar*>(b.constData()), b.size() / 2);
        return QString::fromLatin1(b);
    };
    answer.command = text(in.byte() % 12);
    answer.reply = text(in.byte() % 12);

    test::FakeChannel channel;
    MessageCollector collector(channel);
    SlaveResponder slave(channel, collector, answer);
    auto* silence = collector.findChild<OneShot*>(QStringLiteral("Timer8"));
    FUZZ_CHECK(silence);
    FUZZ_CHECK(slave.listen());

    QByteArray pending;
    QByteArray expectedWire;
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        if (op % 4 == 0) {
            if (!silence->isActive())
                continue;
            const bool equal = QString::fromLatin1(pending) == answer.command;
            expectedWire += equal ? answer.reply.toLatin1() : QByteArray(1, kNotRecognised);
            pending.clear();
            silence->stop();
            emit silence->fired();
            FUZZ_CHECK(slave.light() == (equal ? Light::Green : Light::Red));
        } else if (op % 4 == 1) {
            answer.command = text(op >> 4);
        } else {
            const QByteArray bytes = in.bytes((op >> 2) + 1);
            channel.inject(bytes);
            pending += bytes;
        }
        FUZZ_CHECK(collector.pending() == pending);
        FUZZ_CHECK(channel.allWritten() == expectedWire);
        FUZZ_CHECK(channel.isOpen());
    }
    slave.stopListening();
    FUZZ_CHECK(!channel.isOpen() && !silence->isActive());
    return 0;
}
