// read-reg and write-reg: the register programming frame's operations.
#include "station.h"

#include "register_programming/register_programmer.h"
#include "register_programming/register_words.h"

namespace rava::station {

int registers(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().programmingChannel();
    registers::RegisterProgrammer programmer(channel);
    const registers::Register reg = o.arguments.first() == QLatin1String("address")
                                        ? registers::Register::Address
                                        : registers::Register::Parity;
    std::optional<registers::Outcome> outcome;
    QObject::connect(&programmer, &registers::RegisterProgrammer::finished, &station,
                     [&](const registers::Outcome& r) {
                         outcome = r;
                         station.exit(r.ok() ? kDone : kFailed);
                     });
    station.onInterrupt([&] { station.exit(kInterrupted); });
    if (o.verb == QLatin1String("read-reg"))
        programmer.read(reg);
    else
        programmer.write(reg, o.arguments.at(1).trimmed().toDouble());
    // An operation that ended at once has told already.
    const int code = outcome ? (outcome->ok() ? kDone : kFailed) : station.run();
    if (!outcome) {
        out.error(QStringLiteral("interrupted; the register operation stopped"));
        out.json({{"register", o.arguments.first()}, {"interrupted", true}}, false);
        return code;
    }
    const QString status = registers::statusText(*outcome);
    const QString message = registers::failureMessage(*outcome);
    if (!outcome->ok())
        out.error(message.isEmpty() ? status : message);
    else
        out.summary(status);
    static const char* kinds[] = {"value",        "done",        "mismatch",    "no_reply",
                                  "out_of_range", "open_failed", "channel_lost"};
    QJsonObject json{{"register", o.arguments.first()},
                     {"outcome", kinds[int(outcome->kind)]},
                     {"status", status},
                     {"value", outcome->value >= 0 ? QJsonValue(outcome->value) : QJsonValue()}};
    if (!message.isEmpty())
        json.insert(QStringLiteral("error"), message);
    out.json(json, code == kDone);
    return code;
}

} // namespace rava::station
