#pragma once

#include "link/station_link.h"
#include "main_window/main_window.h"
#include "main_window/tab_strip.h"
#include "support/recording.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QtTest>
#include <memory>

namespace rava::test {

// Whether a descriptor of this program points at a file under `dir` (or at
// what is left of one that was deleted).
inline bool holdsFileUnder(const QString& dir) {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(fds.filePath(fd)).startsWith(dir + QLatin1Char('/')))
            return true;
    return false;
}

// One station: a whole window on the device given as COM 1, whose messages
// are kept instead of shown.
struct WindowStation {
    RecordingMessenger messages;
    std::unique_ptr<MainWindow> win;

    explicit WindowStation(const QString& com1) {
        qputenv("RAVA2_COM1", com1.toLocal8Bit());
        win = std::make_unique<MainWindow>();
        win->setMessenger(&messages);
    }
    template <typename T = QWidget> T* at(const char* name) const {
        T* w = win->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void click(const char* name) const { QTest::mouseClick(at(name), Qt::LeftButton); }
    QString text(const char* name) const { return at(name)->property("text").toString(); }
    // Chooses `path` with the Open button `open`, and waits until `send` is offered.
    void choose(const char* open, const QString& path, const char* send) {
        win->setFileChooser([path](const QString&, const QString&) { return path; });
        click(open);
        if (!QTest::qWaitFor([&] { return at(send)->isEnabled(); }, 10000))
            qWarning("%s was not offered for %s", send, qPrintable(path));
    }
    // Row 1 of the poll table checked: address 5, command X.
    void pollRowOne() const {
        at<QCheckBox>("Check1_1")->setChecked(true);
        at<QLineEdit>("Text4_1")->setText(QStringLiteral("5"));
        at<QLineEdit>("Text14_1")->setText(QStringLiteral("X"));
    }
    bool channelsClosed() const {
        StationLink& l = win->link();
        return !l.textChannel().isOpen() && !l.imageChannel().isOpen() &&
               !l.pollingChannel().isOpen() && !l.programmingChannel().isOpen();
    }
    // After a failure: one message saying `says`, every tab usable, every
    // channel closed and `button` ready to be pressed again.
    void checkAtRest(const QString& says, const char* button) const {
        QCOMPARE(messages.errors.size(), 1);
        QVERIFY2(messages.errors.first().contains(says, Qt::CaseInsensitive),
                 qPrintable(messages.errors.first()));
        for (int i = 0; i < win->tabStrip()->count(); ++i)
            QVERIFY(win->tabStrip()->isTabEnabled(i));
        QVERIFY(channelsClosed());
        QVERIFY(at(button)->isEnabled());
    }
};

} // namespace rava::test
