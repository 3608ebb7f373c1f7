#include "main_window/main_window.h"

#include <QApplication>
#include <QTimer>

// RAVA2_SCREENSHOTS=dir: show the window, save a picture of each tab into
// dir and end; used to keep the documentation's pictures current.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    rava::MainWindow window;
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
