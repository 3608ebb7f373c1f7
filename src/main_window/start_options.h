#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace rava {

// What the command line chooses in place of start-up's defaults. Each choice
// is applied through the same handler as the user's own choice would be.
struct StartOptions {
    std::optional<int> port;        // 1..4
    std::optional<int> lineSetting; // index into the line-setting list
    bool slave = false;
    std::optional<int> remoteAddress; // 0..255, master only
    QMap<int, QString> devices;       // --device COMn=PATH: entry n's device for this start
    bool help = false;
    bool version = false;
    bool guide = false; // print the user guide
    QString error;      // why the command line was refused; empty when it was not

    bool ok() const { return error.isEmpty(); }
};

// Reads the arguments after the program name. Unknown options and bad values
// are refused with a sentence that names the accepted values.
StartOptions parseStartOptions(const QStringList& arguments);

// The text of --help.
QString startOptionsHelp();

} // namespace rava
