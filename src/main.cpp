#include "main_window/main_window.h"
#include "main_window/start_options.h"
#include "main_window/user_guide.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

// RAVA2_SCREENSHOTS=dir: show the window, save a picture of each tab into
// dir and end; used to keep the documentation's pictures current.
int main(int argc, char** argv) {
    // Read before the application exists, so that --help, --version and
    // --guide work without a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const rava::StartOptions options = rava::parseStartOptions(arguments);
    if (!options.ok()) {
        std::fprintf(stderr, "rava2-demo: %s\nTry rava2-demo --help.\n", qPrintable(options.error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(rava::startOptionsHelp()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("rava2-demo %s\n", RAVA2_VERSION);
        return 0;
    }
    if (options.guide) {
        QString guide = rava::userGuideText();
        guide.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        std::printf("%s\n", guide.toLatin1().constData());
        return 0;
    }

    QApplication app(argc, argv);
    rava::MainWindow window;
    window.applyStartOptions(options);
    window.show();

    const QString shotsDir = qEnvironmentVariable("RAVA2_SCREENSHOTS");
    if (!shotsDir.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, shotsDir] {
            const QStringList files = window.saveTabScreenshots(shotsDir);
            for (const QString& file : files)
                qInfo("%s", qPrintable(file));
            QCoreApplication::exit(files.size() == 7 ? 0 : 1);
        });
    }
    return app.exec();
}
