// send-text and receive-text: the text pages' sender and receiver.
#include "station.h"

#include "link/wire_pause.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"
#include "text_transfer/text_words.h"

#include <QFile>
#include <QJsonArray>
#include <cstdio>

namespace rava::station {

int sendText(Station& station) {
    Output& out = station.out();
    const QString path = station.options().arguments.first();
    SerialChannel& channel = station.link().textChannel();
    text::TextSender sender(channel, station.settings());
    QString failure;
    QObject::connect(&sender, &text::TextSender::failed, &sender,
                     [&](text::SendFailure f, const QString& detail) {
                         failure = text::sendFailureText(f, detail, &channel, sender.linesWritten(),
                                                         sender.lineCount(),
                                                         sender.pacing().stallMs() / 1000);
                     });
    QObject::connect(&sender, &text::TextSender::lineWritten, &sender, [&](int index) {
        out.progress(QStringLiteral("line %1 of %2").arg(index + 1).arg(sender.lineCount()));
    });
    QObject::connect(&sender, &text::TextSender::finished, &station,
                     [&](bool ok) { station.exit(ok ? kDone : kFailed); });
    // SIGINT: the send stops where it is (the sender ends it when it goes).
    station.onInterrupt([&] { station.exit(kInterrupted); });
    QElapsedTimer clock;
    clock.start();
    const int code = sender.send(path) ? station.run() : kFailed;
    const int lines = sender.linesWritten();
    const int total = sender.lineCount();
    if (!failure.isEmpty())
        out.error(failure);
    if (code == kInterrupted)
        out.error(QStringLiteral("interrupted after line %1 of %2").arg(lines).arg(total));
    out.summary(QStringLiteral("sent %1 of %2 lines in %3 s")
                    .arg(lines)
                    .arg(total)
                    .arg(double(clock.elapsed()) / 1000.0, 0, 'f', 2));
    out.json({{"file", path},
              {"lines", lines},
              {"line_count", total},
              {"seconds", double(clock.elapsed()) / 1000.0},
              {"error", failure}},
             code == kDone);
    return code;
}

int receiveText(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().textChannel();
    text::Timings timings;
    timings.idleMs = o.idleMs;
    text::TextReceiver receiver(channel, station.settings(), timings);

    // Lines go into FILE.part while they come; only a reception that ended
    // as the window's ends makes it FILE. An interrupted one leaves the
    // part, named as such.
    QFile file;
    const QString part = o.out + QStringLiteral(".part");
    if (!o.out.isEmpty()) {
        file.setFileName(part);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            out.error(
                QStringLiteral("Cannot write the file %1: %2.").arg(part, file.errorString()));
            out.json({{"error", file.errorString()}}, false);
            return kFailed;
        }
    } else {
        out.setSummaryToStderr(true);
    }
    int lines = 0;
    qint64 bytes = 0;
    int lastSender = -1;
    QJsonArray text;
    QString failure;
    QObject::connect(&receiver, &text::TextReceiver::lineReceived, &receiver,
                     [&](const QByteArray& line, int sender) {
                         ++lines;
                         bytes += line.size();
                         lastSender = sender;
                         const QByteArray withEnd = line + '\n';
                         if (file.isOpen()) {
                             file.write(withEnd);
                         } else if (o.json) {
                             text.append(QString::fromLatin1(line));
                         } else {
                             out.clearProgress();
                             std::fwrite(withEnd.constData(), 1, size_t(withEnd.size()), stdout);
                         }
                     });
    QObject::connect(&receiver, &text::TextReceiver::batchDone, &receiver, [&] {
        if (file.isOpen()) {
            file.flush();
            out.progress(QStringLiteral("%1 lines received").arg(lines));
        } else {
            std::fflush(stdout);
        }
    });
    QObject::connect(&receiver, &text::TextReceiver::failed, &receiver,
                     [&](text::ReceiveFailure f, const QString& detail) {
                         failure = text::receiveFailureText(f, detail, &channel, lines);
                         station.exit(kFailed);
                     });
    QObject::connect(&receiver, &text::TextReceiver::busyChanged, &station, [&](bool busy) {
        if (!busy)
            station.exit(station.interrupted() ? kInterrupted
                         : failure.isEmpty()   ? kDone
                                               : kFailed);
    });
    station.onInterrupt([&] { receiver.stop(); });
    const int code = receiver.receive() ? station.run() : kFailed;
    std::fflush(stdout);
    QString saved;
    if (file.isOpen()) {
        file.close();
        if (code == kDone) {
            QFile::remove(o.out);
            if (!QFile::rename(part, o.out)) {
                out.error(QStringLiteral("Cannot write the file %1.").arg(o.out));
                return kFailed;
            }
            saved = o.out;
        } else if (lines == 0) {
            QFile::remove(part);
        } else {
            saved = part;
        }
    }
    if (!failure.isEmpty())
        out.error(failure);
    if (code == kInterrupted)
        out.error(saved.isEmpty() ? QStringLiteral("interrupted after %1 lines").arg(lines)
                                  : QStringLiteral("interrupted after %1 lines; what came is in %2")
                                        .arg(lines)
                                        .arg(saved));
    out.summary(QStringLiteral("received %1 lines (%2 bytes)%3")
                    .arg(lines)
                    .arg(bytes)
                    .arg(saved.isEmpty() ? QString() : QStringLiteral(" into ") + saved));
    QJsonObject json{{"lines", lines}, {"bytes", bytes}, {"error", failure}};
    if (lastSender >= 0 && station.settings().isMaster())
        json.insert(QStringLiteral("sender"), lastSender);
    if (!saved.isEmpty())
        json.insert(QStringLiteral("file"), saved);
    if (o.out.isEmpty())
        json.insert(QStringLiteral("text"), text);
    json.insert(QStringLiteral("interrupted"), code == kInterrupted);
    out.json(json, code == kDone);
    return code;
}

} // namespace rava::station
