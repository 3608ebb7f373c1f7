// send-image and receive-image: the image pages' sender and receiver.
#include "station.h"

#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"
#include "image_transfer/image_stream.h"
#include "image_transfer/image_words.h"
#include "link/wire_pause.h"

#include <QFile>
#include <QImageReader>
#include <QSaveFile>

namespace rava::station {

namespace {

QString verdictName(image::Verdict verdict, bool readable) {
    switch (verdict) {
    case image::Verdict::Complete:
        return readable ? QStringLiteral("complete") : QStringLiteral("damaged");
    case image::Verdict::Incomplete:
        return QStringLiteral("incomplete");
    case image::Verdict::NoHeader:
        return QStringLiteral("no_header");
    case image::Verdict::HeaderTooLong:
        return QStringLiteral("header_too_long");
    case image::Verdict::TooMuchData:
        return QStringLiteral("too_much_data");
    }
    return QStringLiteral("incomplete");
}

// The picture as the window would show it: readable or not.
bool readablePicture(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return !reader.read().isNull();
}

} // namespace

int sendImage(Station& station) {
    Output& out = station.out();
    const QString path = station.options().arguments.first();
    SerialChannel& channel = station.link().imageChannel();
    image::ImageSender sender(channel, station.settings());
    QString failure;
    QObject::connect(&sender, &image::ImageSender::failed, &sender,
                     [&](image::SendFailure f, const QString& detail) {
                         failure = image::sendFailureText(f, detail, path, &channel,
                                                          sender.sentCount(), sender.fileSize(),
                                                          sender.pause().stallMs() / 1000);
                     });
    QObject::connect(&sender, &image::ImageSender::progress, &sender, [&](qint64 sent) {
        out.progress(QStringLiteral("%1 of %2 bytes").arg(sent).arg(sender.fileSize()));
    });
    QObject::connect(&sender, &image::ImageSender::finished, &station,
                     [&](bool ok) { station.exit(ok ? kDone : kFailed); });
    station.onInterrupt([&] { station.exit(kInterrupted); });
    QElapsedTimer clock;
    clock.start();
    const int code = sender.send(path) ? station.run() : kFailed;
    const double seconds = double(clock.elapsed()) / 1000.0;
    if (!failure.isEmpty())
        out.error(failure);
    if (code == kInterrupted)
        out.error(QStringLiteral("interrupted after %1 of %2 bytes")
                      .arg(sender.sentCount())
                      .arg(sender.fileSize()));
    out.summary(QStringLiteral("sent %1 of %2 bytes in %3 s")
                    .arg(sender.sentCount())
                    .arg(sender.fileSize())
                    .arg(seconds, 0, 'f', 2));
    out.json({{"file", path},
              {"bytes", sender.sentCount()},
              {"size", sender.fileSize()},
              {"seconds", seconds},
              {"error", failure}},
             code == kDone);
    return code;
}

int receiveImage(Station& station) {
    Output& out = station.out();
    const Options& o = station.options();
    SerialChannel& channel = station.link().imageChannel();
    image::ImageReceiver receiver(channel, station.settings());
    QString failure;
    std::optional<image::Reception> reception;
    QObject::connect(&receiver, &image::ImageReceiver::failed, &receiver,
                     [&](image::ReceiveFailure f, const QString& detail) {
                         failure = image::receiveFailureText(f, detail, &channel,
                                                             receiver.imageBytesReceived(),
                                                             receiver.announced());
                         station.exit(kFailed);
                     });
    QObject::connect(&receiver, &image::ImageReceiver::progress, &receiver, [&](qint64) {
        out.progress(QStringLiteral("%1 of %2 bytes")
                         .arg(receiver.imageBytesReceived())
                         .arg(receiver.announced()));
    });
    QObject::connect(&receiver, &image::ImageReceiver::finished, &station,
                     [&](const image::Reception& r) {
                         reception = r;
                         station.exit(kDone);
                     });
    station.onInterrupt([&] {
        receiver.stop();
        station.exit(kInterrupted);
    });
    int code = receiver.receive() ? station.run() : kFailed;
    if (!failure.isEmpty())
        out.error(failure);
    if (code == kInterrupted) {
        out.error(QStringLiteral("interrupted after %1 of %2 bytes; nothing written to %3")
                      .arg(receiver.imageBytesReceived())
                      .arg(receiver.announced())
                      .arg(o.out));
        out.json({{"bytes", receiver.imageBytesReceived()}, {"interrupted", true}}, false);
        return code;
    }
    if (!reception) {
        out.json({{"error", failure}}, false);
        return kFailed;
    }
    const image::Reception& r = *reception;
    const bool readable = r.verdict == image::Verdict::Complete && readablePicture(r.candidate);
    const QString warning = image::verdictWarning(r.verdict, r.announced, readable);
    // The time and the rate as the window shows them: hundredths of a
    // second, the rate from the time as shown.
    const qint64 cs = image::centiseconds(r.elapsedMs);
    const qint64 rateCs = qMax<qint64>(1, cs);
    const qint64 bits = qMax<qint64>(0, r.announced) * 8 * 100;
    const qint64 bitRate = (2 * bits + rateCs) / (2 * rateCs);
    QJsonObject json{{"bytes", r.announced},
                     {"received", r.stored},
                     {"seconds", double(cs) / 100.0},
                     {"bit_rate", bitRate},
                     {"verdict", verdictName(r.verdict, readable)}};
    if (!warning.isEmpty()) {
        out.error(warning);
        json.insert(QStringLiteral("error"), warning);
        out.json(json, false);
        return kFailed;
    }
    QSaveFile target(o.out);
    QFile candidate(r.candidate);
    if (!candidate.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly) ||
        target.write(candidate.read(r.announced)) != r.announced || !target.commit()) {
        const QString e =
            QStringLiteral("Cannot write the file %1: %2.").arg(o.out, target.errorString());
        out.error(e);
        json.insert(QStringLiteral("error"), e);
        out.json(json, false);
        return kFailed;
    }
    json.insert(QStringLiteral("file"), o.out);
    out.summary(QStringLiteral("%1, %2, %3")
                    .arg(image::sizeText(r.announced), image::timeText(r.elapsedMs),
                         image::baudRateText(r.announced, r.elapsedMs)));
    out.json(json, true);
    code = kDone;
    return code;
}

} // namespace rava::station
