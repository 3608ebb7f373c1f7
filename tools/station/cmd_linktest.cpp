// linktest and echo: the link test's two ends.
#include "station.h"

#include "link/device_words.h"
#include "link/one_shot.h"
#include "link_test/echo_responder.h"
#include "link_test/link_tester.h"
#include "link_test/packet_framer.h"

#include <QRandomGenerator>

namespace rava::station {

namespace {

// The sentence for a link test or echo that stopped on its channel.
QString stoppedText(const Channel& channel, const QString& reason, const QString& what) {
    return reason.isEmpty() ? QStringLiteral("Writing to %1 failed; %2 stopped.")
                                  .arg(channel.deviceName().isEmpty() ? QStringLiteral("the device")
                                                                      : channel.deviceName(),
                                       what)
                            : QStringLiteral("%1; %2 stopped.").arg(deviceGone(&channel), what);
}

QJsonObject countsJson(int sent, int received, int duplicated, int damaged) {
    return {{"sent", sent},
            {"received", received},
            {"lost", qMax(0, sent - received - damaged)},
            {"duplicated", duplicated},
            {"damaged", damaged}};
}

} // namespace

int linkTest(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().pollingChannel();
    channel.setTraceName(QStringLiteral("linktest"));
    const LineParams params = station.lineParams();
    linktest::LinkTestConfig config;
    config.count = o.count;
    config.size = o.size;
    config.intervalMs = o.intervalMs;
    config.timeoutMs = o.timeoutMs;
    const bool master = station.settings().isMaster();
    if (master)
        config.prefix = QByteArray(1, char(o.remote));
    config.addressed = master;
    config.run = QRandomGenerator::global()->generate() | 1u;
    linktest::LinkTester tester(channel, linktest::PacketFramer::hostGapNs(packetGapNs(params)),
                                config);
    QString failure;
    QObject::connect(
        &tester, &linktest::LinkTester::progress, &station, [&](int sent, int received) {
            out.progress(
                QStringLiteral("probe %1 of %2, %3 back").arg(sent).arg(o.count).arg(received));
        });
    QObject::connect(&tester, &linktest::LinkTester::finished, &station,
                     [&] { station.exit(kDone); });
    QObject::connect(&tester, &linktest::LinkTester::failed, &station, [&](const QString& reason) {
        failure = stoppedText(channel, reason, QStringLiteral("the link test"));
        station.exit(kFailed);
    });
    station.onInterrupt([&] {
        tester.stop();
        station.exit(kInterrupted);
    });
    QString openError;
    int code = kFailed;
    if (tester.start(&openError))
        code = station.run();
    else
        failure = openError;
    tester.stop();
    const linktest::LinkTestResult r = tester.result();
    if (!failure.isEmpty())
        out.error(failure);

    // Payload carried both ways per second against what the line carries
    // at best in one: one byte per character time.
    const double ideal = 1e9 / double(characterNs(params));
    const double payload = r.seconds > 0 ? 2.0 * o.size * r.received / r.seconds : 0;
    const double ratio = ideal > 0 ? payload / ideal : 0;
    QJsonObject json{{"line", station.lineShown()},
                     {"count", o.count},
                     {"size", o.size},
                     {"sent", r.sent},
                     {"received", r.received},
                     {"lost", r.lost()},
                     {"duplicated", r.duplicated},
                     {"damaged", r.damaged},
                     {"late", r.late},
                     {"loss", rounded(r.sent > 0 ? double(r.lost()) / r.sent : 0.0, 4)},
                     {"rtt_ms", rttJson(r.rttMs)},
                     {"seconds", rounded(r.seconds, 3)},
                     {"payload_bytes_per_second", rounded(payload, 1)},
                     {"ideal_bytes_per_second", rounded(ideal, 1)},
                     {"throughput_ratio", rounded(ratio, 4)},
                     {"interrupted", code == kInterrupted}};
    if (r.echo) {
        // What the echo counted tells the two directions apart.
        const int echoed = int(r.echo->received + r.echo->duplicated + r.echo->damaged);
        json.insert(QStringLiteral("to_echo"),
                    countsJson(r.sent, int(r.echo->received), int(r.echo->duplicated),
                               int(r.echo->damaged)));
        json.insert(
            QStringLiteral("from_echo"),
            countsJson(echoed, r.received + r.duplicated + r.late, r.duplicated, r.damaged));
    } else {
        json.insert(QStringLiteral("to_echo"), QJsonValue());
        json.insert(QStringLiteral("from_echo"), QJsonValue());
    }
    if (!failure.isEmpty())
        json.insert(QStringLiteral("error"), failure);
    out.summary(QStringLiteral("%1 probes of %2 bytes: %3 back, %4 lost, %5 duplicated, %6 damaged")
                    .arg(r.sent)
                    .arg(o.size)
                    .arg(r.received)
                    .arg(r.lost())
                    .arg(r.duplicated)
                    .arg(r.damaged));
    if (r.echo)
        out.summary(QStringLiteral("the echo got %1, %2 duplicated, %3 damaged")
                        .arg(r.echo->received)
                        .arg(r.echo->duplicated)
                        .arg(r.echo->damaged));
    out.summary(rttText(r.rttMs));
    out.summary(QStringLiteral("payload %1 bytes/s both ways, %2 % of the line's %3 bytes/s")
                    .arg(payload, 0, 'f', 0)
                    .arg(ratio * 100, 0, 'f', 1)
                    .arg(ideal, 0, 'f', 0));
    out.json(json, code == kDone);
    return code;
}

int echo(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().pollingChannel();
    channel.setTraceName(QStringLiteral("echo"));
    linktest::EchoResponder responder(
        channel, linktest::PacketFramer::hostGapNs(packetGapNs(station.lineParams())),
        station.settings().isMaster());
    QString failure;
    QObject::connect(&responder, &linktest::EchoResponder::echoed, &station, [&] {
        out.progress(QStringLiteral("%1 packets echoed").arg(responder.packets()));
    });
    QObject::connect(&responder, &linktest::EchoResponder::failed, &station,
                     [&](const QString& reason) {
                         failure = stoppedText(channel, reason, QStringLiteral("the echo"));
                         station.exit(kFailed);
                     });
    OneShot duration(QStringLiteral("echo duration"), int(o.duration * 1000));
    QObject::connect(&duration, &OneShot::fired, &station, [&] { station.exit(kDone); });
    station.onInterrupt([&] { station.exit(kInterrupted); });
    if (o.duration > 0)
        duration.start();
    QString openError;
    int code = kFailed;
    if (responder.start(&openError))
        code = station.run();
    else
        failure = openError;
    responder.stop();
    if (!failure.isEmpty())
        out.error(failure);
    const linktest::EchoCounts c = responder.counts();
    out.summary(QStringLiteral("%1 packets (%2 bytes) echoed; last run: %3 probes, %4 "
                               "duplicated, %5 damaged")
                    .arg(responder.packets())
                    .arg(responder.bytes())
                    .arg(c.received)
                    .arg(c.duplicated)
                    .arg(c.damaged));
    QJsonObject json{{"packets", responder.packets()}, {"bytes", responder.bytes()},
                     {"received", qint64(c.received)}, {"duplicated", qint64(c.duplicated)},
                     {"damaged", qint64(c.damaged)},   {"interrupted", code == kInterrupted}};
    if (!failure.isEmpty())
        json.insert(QStringLiteral("error"), failure);
    out.json(json, code == kDone || code == kInterrupted);
    return code;
}

} // namespace rava::station
