// poll and respond: the polling page's master cycle and slave responder.
#include "station.h"

#include "link/one_shot.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/polling_words.h"
#include "polling/slave_responder.h"

#include <QJsonArray>
#include <algorithm>

namespace rava::station {

namespace {

struct RowCount {
    int queries = 0;
    int ok = 0;
    int wrong = 0;
    int noReply = 0;
    int late = 0; // replies that came after the row's next query had gone
    QList<double> rttMs;
};

} // namespace

int poll(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().pollingChannel();
    polling::Timings timings;
    timings.pauseMs = o.pauseMs;
    polling::MessageCollector collector(channel, timings);
    polling::PollTable table;
    polling::MasterPoller poller(collector, table, timings);
    for (int i = 0; i < o.rows.size(); ++i) {
        table.setAddress(i + 1, o.rows[i].address);
        table.setCommand(i + 1, o.rows[i].command);
        table.setEnabled(i + 1, true);
    }
    QList<RowCount> counts(o.rows.size());
    int pending = 0; // the row whose query awaits its reply
    qint64 pendingNs = 0;
    qint64 lastInNs = 0;
    int unmatched = 0;
    int queries = 0;
    QString failure;
    const int total = o.cycles * int(o.rows.size());

    // The cycle ends after the pause of its last query: just before the
    // poller's own pause would send the next one.
    OneShot end(QStringLiteral("poll end"));
    end.setInterval(o.pauseMs - qMin(100, o.pauseMs / 10));
    QObject::connect(&end, &OneShot::fired, &station, [&] { station.exit(kDone); });
    OneShot duration(QStringLiteral("poll duration"), int(o.duration * 1000));
    QObject::connect(&duration, &OneShot::fired, &station, [&] { station.exit(kDone); });

    QObject::connect(&channel, &Channel::received, &station, [&] { lastInNs = monotonicNs(); });
    QObject::connect(&poller, &polling::MasterPoller::queried, &station, [&](int row) {
        pending = row;
        pendingNs = monotonicNs();
        ++counts[row - 1].queries;
        ++queries;
        out.progress(QStringLiteral("%1 queries").arg(queries));
        if (total > 0 && queries == total)
            end.start();
    });
    // A reply for the row whose query is out gives a round trip; the
    // poller tells each query's outcome, a query whose pause ended without
    // its reply included.
    const auto replied = [&](int row, bool ok) {
        RowCount& c = counts[row - 1];
        if (row != pending) {
            ++c.late;
            return;
        }
        ++(ok ? c.ok : c.wrong);
        qint64 from = pendingNs;
        if (channel.handedToDriverAtNs() > from)
            from = channel.handedToDriverAtNs();
        c.rttMs.append(double(qMax(lastInNs, from) - from) / 1e6);
        pending = 0;
    };
    QObject::connect(&poller, &polling::MasterPoller::outcome, &station,
                     [&](const polling::MasterOutcome& outcome) {
                         if (const auto* r = std::get_if<polling::ReplyOk>(&outcome)) {
                             replied(r->row, true);
                         } else if (const auto* w = std::get_if<polling::WrongCommand>(&outcome)) {
                             replied(w->row, false);
                         } else if (const auto* n = std::get_if<polling::NoReply>(&outcome)) {
                             ++counts[n->row - 1].noReply;
                             if (n->row == pending)
                                 pending = 0;
                         } else if (std::holds_alternative<polling::UnknownSender>(outcome)) {
                             ++unmatched;
                         }
                     });
    QObject::connect(&poller, &polling::MasterPoller::failed, &station,
                     [&](polling::PollFailure f, const QString& detail) {
                         failure = polling::masterFailureText(f, detail);
                         station.exit(kFailed);
                     });
    station.onInterrupt([&] { station.exit(kInterrupted); });
    if (o.duration > 0)
        duration.start();
    const int code = poller.start() ? station.run() : kFailed;
    // The last query's pause is cut just short of its end: still waiting,
    // it counts as unanswered after a whole cycle, and a query cut short by
    // --duration or SIGINT is not judged unless nearly all its pause passed.
    if (pending > 0) {
        if (code == kDone && total > 0)
            ++counts[pending - 1].noReply;
        else if (monotonicNs() - pendingNs >= qint64(o.pauseMs) * 900000)
            ++counts[pending - 1].noReply;
        else
            --counts[pending - 1].queries;
    }
    poller.end();
    if (!failure.isEmpty())
        out.error(failure);
    QJsonArray rows;
    for (int i = 0; i < o.rows.size(); ++i) {
        RowCount& c = counts[i];
        std::sort(c.rttMs.begin(), c.rttMs.end());
        rows.append(QJsonObject{{"address", o.rows[i].address},
                                {"command", o.rows[i].command},
                                {"queries", c.queries},
                                {"ok", c.ok},
                                {"wrong", c.wrong},
                                {"no_reply", c.noReply},
                                {"late", c.late},
                                {"rtt_ms", rttJson(c.rttMs)}});
        out.summary(QStringLiteral("row %1 address %2: %3 queries, %4 ok, %5 wrong command, %6 "
                                   "no reply; %7")
                        .arg(i + 1)
                        .arg(o.rows[i].address)
                        .arg(c.queries)
                        .arg(c.ok)
                        .arg(c.wrong)
                        .arg(c.noReply)
                        .arg(rttText(c.rttMs)));
    }
    out.json({{"rows", rows},
              {"unmatched", unmatched},
              {"interrupted", code == kInterrupted},
              {"error", failure}},
             code == kDone);
    return code;
}

int respond(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().pollingChannel();
    const polling::Timings timings;
    polling::MessageCollector collector(channel, timings);
    const polling::SlaveAnswer answer{o.command, o.reply};
    polling::SlaveResponder responder(collector, answer, timings);
    int answered = 0;
    int refused = 0;
    int tooLong = 0;
    QString failure;
    QObject::connect(&responder, &polling::SlaveResponder::outcome, &station,
                     [&](const polling::SlaveOutcome& outcome) {
                         if (std::holds_alternative<polling::Answered>(outcome))
                             ++answered;
                         else if (std::holds_alternative<polling::Refused>(outcome))
                             ++refused;
                         else if (std::holds_alternative<polling::TooLong>(outcome))
                             ++tooLong;
                         else
                             return;
                         out.progress(
                             QStringLiteral("%1 answered, %2 refused").arg(answered).arg(refused));
                     });
    QObject::connect(&responder, &polling::SlaveResponder::failed, &station,
                     [&](polling::PollFailure f, const QString& detail) {
                         failure = polling::slaveFailureText(f, detail);
                         station.exit(kFailed);
                     });
    OneShot duration(QStringLiteral("respond duration"), int(o.duration * 1000));
    QObject::connect(&duration, &OneShot::fired, &station, [&] { station.exit(kDone); });
    station.onInterrupt([&] { station.exit(kInterrupted); });
    if (o.duration > 0)
        duration.start();
    const int code = responder.listen() ? station.run() : kFailed;
    responder.stopListening();
    if (!failure.isEmpty())
        out.error(failure);
    out.summary(QStringLiteral("%1 answered, %2 refused (not recognised), %3 too long")
                    .arg(answered)
                    .arg(refused)
                    .arg(tooLong));
    out.json({{"answered", answered},
              {"refused", refused},
              {"too_long", tooLong},
              {"interrupted", code == kInterrupted},
              {"error", failure}},
             code == kDone || code == kInterrupted);
    return code;
}

} // namespace rava::station
