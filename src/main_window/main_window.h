#pragma once

#include "form/messenger.h"
#include "form/station_context.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "port_menu.h"

#include <QStringList>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace rava {

class TabStrip;
struct StartOptions;
namespace polling {
class PollingPage;
}

// Passes every message on to a target that can be replaced while the window
// lives, so that everyone holding this messenger reaches the current target.
class ForwardingMessenger : public Messenger {
public:
    explicit ForwardingMessenger(Messenger* target) : target_(target) {}
    void setTarget(Messenger* target) { target_ = target; }
    Messenger* target() const { return target_; }
    void error(const QString& text) override {
        if (target_)
            target_->error(text);
    }
    void info(const QString& title, const QString& text) override {
        if (target_)
            target_->info(title, text);
    }
    void warning(const QString& text) override {
        if (target_)
            target_->warning(text);
    }

private:
    Messenger* target_;
};

// The window's own controls, outside the feature pages.
struct WindowControls {
    QComboBox* ports;        // Combo1, "COM 1" .. "COM 4"
    QComboBox* lineSettings; // Combo2
    QLabel* remoteTitle;     // Label7 "Remote address"
    QLineEdit* remote;       // Text12, the remote address
    QRadioButton* master;    // Option1 "Master"
    QRadioButton* slave;     // Option2 "Slave"
    QPushButton* exit;       // Command1 "Exit"
    QPushButton* info;       // Command2 "Info"
    QPlainTextEdit* guide;   // Text3, the user guide on "Help"
    QLabel* upperLogo;       // Image1
    QLabel* lowerLogo;       // Image4

    static WindowControls resolve(QWidget* form);
};

// Maps the font names of the window's layout onto faces found on Linux.
void installFontSubstitutions();

// The program's one window, Form1: the tab strip SSTab1 with the feature
// pages, the column with the logos, Info and Exit, the operating mode and
// remote address, and the station's serial channels.
class MainWindow : public QWidget, public Messenger {
    Q_OBJECT
public:
    using FileChooser = std::function<QString(const QString& title, const QString& filter)>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Message boxes: errors titled "Error" with the critical icon, the rest
    // with the information icon; OK only.
    void error(const QString& text) override;
    void warning(const QString& text) override;
    void info(const QString& title, const QString& text) override;

    // Sends every message of the window and its pages to `messenger`;
    // nullptr returns to the window's own message boxes.
    void setMessenger(Messenger* messenger);
    // Replaces the file-open dialog; an empty function returns to it.
    void setFileChooser(FileChooser chooser);

    StationSettings& settings() { return settings_; }
    StationLink& link() { return link_; }
    const StationContext& context() const { return ctx_; }
    TabStrip* tabStrip() const { return tabs_; }

    // Chooses what the command line asks for, through the same handlers as
    // the user's own choices: port, line setting, slave mode, remote address.
    void applyStartOptions(const StartOptions& options);

    // locked: every tab but `keep` disabled; unlocked: all tabs enabled.
    void lockTabs(Tab keep, bool locked);

    // Saves a picture of the window with each tab in front, as
    // dir/tab-N-<caption>.png; returns the files written.
    QStringList saveTabScreenshots(const QString& dir);

    static QString infoTitle();
    static QString infoText();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildWindow();
    void wireControls();
    void installFeaturePages();
    void startUp();

    void chooseMode(Mode mode);
    void onTabChanged(int current, int previous);
    void showInfo();
    void exitProgram();

    StationSettings settings_;
    StationLink link_{settings_};
    ForwardingMessenger messenger_{this};
    FileChooser chooser_;
    StationContext ctx_;
    TabStrip* tabs_ = nullptr;
    WindowControls ui_{};
    polling::PollingPage* polling_ = nullptr;
};

} // namespace rava
