// rava2-station: every feature of the window from the command line.
#include "options.h"
#include "station.h"

#include <QCoreApplication>
#include <cstdio>

using namespace rava::station;

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Options options = parseOptions(arguments);
    if (!options.ok()) {
        std::fprintf(stderr, "rava2-station: %s\nTry rava2-station --help.\n",
                     options.error.toLocal8Bit().constData());
        return kUsage;
    }
    if (options.help) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return kDone;
    }
    if (options.version) {
        std::printf("rava2-station %s\n", RAVA2_VERSION);
        return kDone;
    }

    QCoreApplication app(argc, argv);
    Station station(options);
    const QString& verb = options.verb;
    if (verb == QLatin1String("send-text"))
        return sendText(station);
    if (verb == QLatin1String("receive-text"))
        return receiveText(station);
    if (verb == QLatin1String("send-image"))
        return sendImage(station);
    if (verb == QLatin1String("receive-image"))
        return receiveImage(station);
    if (verb == QLatin1String("poll"))
        return poll(station);
    if (verb == QLatin1String("respond"))
        return respond(station);
    if (verb == QLatin1String("read-reg") || verb == QLatin1String("write-reg"))
        return registers(station);
    if (verb == QLatin1String("linktest"))
        return linkTest(station);
    return echo(station);
}
