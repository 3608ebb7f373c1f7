// Choosing the device behind a COM entry from the port list, through the
// window and pseudo-terminals: the chooser, the remembered choice across a
// restart, RAVA2_COMn over it, Forget, --device for one start, and the
// permission failure that names the group and the command.
#include "link/device_choice.h"
#include "main_window/device_chooser.h"
#include "main_window/start_options.h"
#include "support/pty.h"
#include "window_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace rava;

namespace {

QVariant storedChoice(int port) {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "rava2-demo", "rava2-demo");
    return s.value(QStringLiteral("devices/COM%1").arg(port));
}

// Run as another user: a window whose COM 2 is `path` tries to receive text
// and prints the error it shows.
int permissionChild(const QString& path) {
    test::RecordingMessenger messages;
    MainWindow window;
    window.setMessenger(&messages);
    window.show();
    window.applyStartOptions(parseStartOptions({"--device", "COM2=" + path, "--port", "2"}));
    QTest::mouseClick(form::require<QPushButton>(&window, "Command6"), Qt::LeftButton);
    std::fputs(qPrintable(messages.errors.join('\n')), stdout);
    return messages.errors.size() == 1 ? 0 : 1;
}

} // namespace

class DeviceChooserTest : public test::WindowTest {
    Q_OBJECT

    QTemporaryDir config_;
    QTemporaryDir files_;

    QComboBox* portList() const { return get<QComboBox>("Combo1"); }
    PortMenu* portMenu() const { return portList()->findChild<PortMenu*>(); }

    // The line of the port list's tooltip for entry `port`, as it shows.
    QString tipLine(int port) const {
        QHelpEvent show(QEvent::ToolTip, QPoint(2, 2), portList()->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(portList(), &show);
        return portList()->toolTip().section('\n', port - 1, port - 1);
    }

    // Ctrl+D on the list showing COM `port`; types `path` into the chooser
    // over what it holds (which must be `holds`), then Return.
    void chooseByKey(int port, const QString& holds, const QString& path) {
        portList()->setCurrentIndex(port - 1);
        portList()->setFocus();
        QTest::keyClick(portList(), Qt::Key_D, Qt::ControlModifier);
        auto* chooser = window->findChild<DeviceChooser*>();
        QVERIFY(chooser && chooser->isVisible());
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Device for COM %1").arg(port));
        auto* box = chooser->findChild<QLineEdit*>("DevicePath");
        QCOMPARE(chooser->focusWidget(), box);
        QCOMPARE(box->text(), holds);
        QTest::keyClicks(box, path);
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_VERIFY(!window->findChild<DeviceChooser*>());
    }

    // Opens the port list's context menu as a right-click does.
    QMenu* openMenu() {
        qDeleteAll(portList()->findChildren<QMenu*>("PortListMenu"));
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(4, 4),
                                portList()->mapToGlobal(QPoint(4, 4)));
        QApplication::sendEvent(portList(), &event);
        return portList()->findChild<QMenu*>("PortListMenu");
    }
    // Triggers the menu's action `name` whose caption contains `text`.
    void trigger(QMenu* menu, const QString& name, const QString& text = QString()) {
        QVERIFY(menu);
        for (QAction* action : menu->actions()) {
            if (action->objectName() == name && action->text().contains(text)) {
                QVERIFY(action->isEnabled());
                action->trigger();
                menu->close();
                return;
            }
        }
        QFAIL(qPrintable("no action " + name + " " + text));
    }

    // Sends a one-line text file from the "Send Text file" tab; a master with
    // remote address 0 puts that byte in front.
    void sendLine(const QByteArray& line) {
        const QString file = test::writeFile(files_, "line.txt", line + "\r\n");
        window->setFileChooser([file](const QString&, const QString&) { return file; });
        click("Command3");
        QTRY_VERIFY(get("Command4")->isEnabled());
        click("Command4");
    }
    static QByteArray onWire(const QByteArray& line) { return QByteArray(1, '\0') + line + "\r\n"; }

private slots:
    void initTestCase() {
        QVERIFY(config_.isValid() && files_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());
        for (int port = 1; port <= 4; ++port)
            qunsetenv(qPrintable(QStringLiteral("RAVA2_COM%1").arg(port)));
    }
    void cleanup() {
        window.reset();
        qunsetenv("RAVA2_COM2");
        for (int port = 1; port <= 4; ++port)
            DeviceChoices::instance().forget(port);
    }

    // A pseudo-terminal typed into the chooser for COM 2 carries a text file,
    // and still does after a restart; RAVA2_COM2 overrides it while set;
    // Forget goes back to the default.
    void chosenDeviceIsRememberedOverriddenAndForgotten() {
        test::Pty chosen, named;
        QVERIFY(chosen.valid() && named.valid());
        start();
        QCOMPARE(tipLine(2), QStringLiteral("COM 2: /dev/ttyS1 (default, %1)")
                                 .arg(QFileInfo::exists("/dev/ttyS1") ? "present" : "missing"));
        chooseByKey(2, "/dev/ttyS1", chosen.stationPath());
        QCOMPARE(storedChoice(2).toString(), chosen.stationPath());
        QCOMPARE(tipLine(2), "COM 2: " + chosen.stationPath() + " (remembered choice, present)");
        sendLine("first");
        QCOMPARE(chosen.receive(7, 5000), onWire("first"));

        window.reset(); // a new start
        start();
        portList()->setCurrentIndex(1);
        QCOMPARE(tipLine(2), "COM 2: " + chosen.stationPath() + " (remembered choice, present)");
        sendLine("again");
        QCOMPARE(chosen.receive(7, 5000), onWire("again"));
        QTRY_VERIFY(!window->link().textChannel().isOpen());

        qputenv("RAVA2_COM2", named.stationPath().toLocal8Bit());
        QCOMPARE(tipLine(2), "COM 2: " + named.stationPath() +
                                 " (RAVA2_COM2, present; the chosen " + chosen.stationPath() +
                                 " applies once RAVA2_COM2 is unset)");
        sendLine("named");
        QCOMPARE(named.receive(7, 5000), onWire("named"));
        QVERIFY(chosen.receive(1, 200).isEmpty());
        QTRY_VERIFY(!window->link().textChannel().isOpen());
        qunsetenv("RAVA2_COM2");

        trigger(openMenu(), "ForgetDevice");
        QVERIFY(tipLine(2).startsWith("COM 2: /dev/ttyS1 (default, "));
        QVERIFY(!storedChoice(2).isValid());
        QCOMPARE(window->link().textChannel().devicePath(), QStringLiteral("/dev/ttyS1"));
        QVERIFY(!openMenu()->findChild<QAction*>("ForgetDevice")->isEnabled());
        QVERIFY(messages.errors.isEmpty());
    }

    // The menu reads the plugged-in devices as it opens, so an adapter that
    // appears later is offered; choosing it moves every channel of the
    // entry, but an open channel keeps its device until it closes.
    void menuOffersWhatIsPluggedInNow() {
        test::Pty first, adapter;
        start();
        portList()->setCurrentIndex(1);
        QList<SerialDevice> plugged;
        portMenu()->setLister([&plugged] { return plugged; });
        chooseByKey(2, "/dev/ttyS1", first.stationPath());
        SerialChannel& text = window->link().textChannel();
        SerialChannel& image = window->link().imageChannel();
        QVERIFY(text.open());

        QMenu* menu = openMenu();
        QVERIFY(menu && !menu->findChild<QAction*>("UseDevice"));
        QVERIFY(menu->actions().first()->text().startsWith("COM 1: /dev/ttyS0 (default, "));
        QCOMPARE(menu->actions().at(1)->text(),
                 "COM 2: " + first.stationPath() + " (remembered choice, present)");
        menu->close();
        plugged << SerialDevice{adapter.stationPath(), QString(), "USB serial", "Maker", "S1"};
        trigger(openMenu(), "UseDevice",
                adapter.stationPath() + ": USB serial, Maker, serial number S1");
        QCOMPARE(storedChoice(2).toString(), adapter.stationPath());

        QVERIFY(text.isOpen() && text.write("still"));
        QCOMPARE(first.receive(5, 3000), QByteArray("still"));
        QVERIFY(image.open());
        QVERIFY(image.write("moved"));
        QCOMPARE(adapter.receive(5, 3000), QByteArray("moved"));
        text.close();
        image.close();
        QVERIFY(text.open() && text.write("then"));
        QCOMPARE(adapter.receive(4, 3000), QByteArray("then"));
        QVERIFY(first.receive(1, 200).isEmpty());
        text.close();
    }

    // --device holds for the start it is given to and is not remembered; a
    // malformed one is refused with an example.
    void deviceOptionHoldsForOneStart() {
        test::Pty pty;
        start();
        window->applyStartOptions(
            parseStartOptions({"--device", "com3=" + pty.stationPath(), "--port", "3"}));
        QCOMPARE(tipLine(3),
                 "COM 3: " + pty.stationPath() + " (--device, this start only, present)");
        sendLine("start");
        QCOMPARE(pty.receive(7, 5000), onWire("start"));
        QVERIFY(!storedChoice(3).isValid());
        window.reset();
        start();
        QVERIFY(tipLine(3).startsWith("COM 3: /dev/ttyS2 (default, "));

        const StartOptions two =
            parseStartOptions({"--device=COM1=/dev/ttyUSB0", "--device", "COM 4=/tmp/x y"});
        QVERIFY(two.ok());
        QCOMPARE(two.devices, (QMap<int, QString>{{1, "/dev/ttyUSB0"}, {4, "/tmp/x y"}}));
        for (const char* bad : {"COM5=/dev/ttyUSB0", "COM1=", "/dev/ttyUSB0"})
            QVERIFY(
                parseStartOptions({"--device", bad}).error.contains("--device COM1=/dev/ttyUSB0"));
    }

    // A device this user may not open: the message names the group that owns
    // it and the command that adds the user to it. Root ignores file modes,
    // so as root the window runs in a child process as "nobody" on a device
    // of the group dialout.
    void permissionDeniedNamesTheGroup() {
        test::Pty pty;
        QVERIFY(pty.valid());
        const QByteArray device = QFile::encodeName(pty.stationPath());
        QString text;
        if (geteuid() != 0) {
            QVERIFY(::chmod(device.constData(), 0) == 0);
            start();
            window->applyStartOptions(parseStartOptions({"--device", "COM2=" + pty.stationPath()}));
            portList()->setCurrentIndex(1);
            click("Command6");
            QCOMPARE(messages.errors.size(), 1);
            text = messages.errors.first();
        } else {
            const passwd* nobody = getpwnam("nobody");
            const group* dialout = getgrnam("dialout");
            if (!nobody || !dialout)
                QSKIP("running as root with no user nobody or no group dialout to test as");
            QVERIFY(::chown(device.constData(), 0, dialout->gr_gid) == 0);
            QVERIFY(::chmod(device.constData(), 0660) == 0);
            QTemporaryDir home;
            QVERIFY(::chmod(QFile::encodeName(home.path()).constData(), 0777) == 0);
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("RAVA2_PERMISSION_CHILD", pty.stationPath());
            env.insert("HOME", home.path());
            env.insert("XDG_CONFIG_HOME", home.path());
            env.insert("XDG_RUNTIME_DIR", home.path());
            env.insert("ASAN_OPTIONS", "detect_leaks=0");
            child.setProcessEnvironment(env);
            const uid_t uid = nobody->pw_uid;
            const gid_t gid = nobody->pw_gid;
            child.setChildProcessModifier([uid, gid] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                    ::_exit(97);
            });
            child.start(QCoreApplication::applicationFilePath(), {});
            QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, 60000);
            text = QString::fromLocal8Bit(child.readAllStandardOutput());
            if (child.exitCode() == 97)
                QSKIP("cannot become the user nobody here");
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                     qPrintable(text + child.readAllStandardError()));
        }
        const QString group = QFileInfo(pty.stationPath()).group();
        QVERIFY(!group.isEmpty());
        for (const QString& part :
             {"Cannot open COM 2 (" + pty.stationPath() + "): permission denied.",
              "belongs to the group " + group, "sudo usermod -aG " + group + " \"$USER\"",
              QStringLiteral("log out and log in again")})
            QVERIFY2(text.contains(part), qPrintable(text));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("RAVA2_PERMISSION_CHILD"))
        return permissionChild(qEnvironmentVariable("RAVA2_PERMISSION_CHILD"));
    DeviceChooserTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_device_chooser.moc"
