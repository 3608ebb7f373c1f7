#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace rava::station {

// One row of `poll --row ADDR:COMMAND`.
struct PollRowOption {
    int address = 0;
    QString command;
};

// The command line of rava2-station, taken apart. Options may stand before
// or after the subcommand; `--name value` and `--name=value` both work.
struct Options {
    QString verb;          // the subcommand ("send-text", ...); empty with --help/--version
    QStringList arguments; // what follows the subcommand that is no option

    // Where the station's module is: a device path, or a COM entry (1..4)
    // resolved as the window does (RAVA2_COMn, the remembered choice, the
    // platform's port). Neither: COM 1.
    QString port;
    int com = 0;
    int lineSetting = 9; // index into kLineSettings; "115200,none,8,1"
    bool slave = false;
    int remote = 0;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;

    int idleMs = 1500;         // receive-text
    QString out;               // receive-text, receive-image
    QList<PollRowOption> rows; // poll
    int cycles = 0;            // poll: 0 = until --duration or SIGINT
    double duration = 0;       // poll, respond, echo: seconds, 0 = until SIGINT
    int pauseMs = 5000;        // poll: the pause after each query
    QString command;           // respond
    QString reply;             // respond
    int count = 100;           // linktest
    int size = 32;             // linktest: bytes per probe
    int intervalMs = 0;        // linktest: 0 = the next probe once the last is back
    int timeoutMs = 1000;      // linktest

    QString error; // not empty: bad usage, and this says what and which values fit
    bool ok() const { return error.isEmpty(); }
};

Options parseOptions(const QStringList& arguments);

// A byte value as the window's entry boxes take it: a number, a fraction
// rounding half to even; -1 when it is no number or lies outside 0..255.
int byteValue(const QString& text);

// The text of --help: every subcommand and option.
QString helpText();

} // namespace rava::station
