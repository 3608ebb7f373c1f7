#pragma once

#include "options.h"

#include "link/line_settings.h"
#include "link/station_link.h"
#include "link/station_settings.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace rava::station {

// Exit status of the program.
enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kInterrupted = 130 };

// What the program prints: a JSON object, a short summary, a progress line
// on a terminal, and messages on standard error.
class Output {
public:
    explicit Output(const Options& options);

    // A progress line, shown only on a terminal, without --json and --quiet,
    // once the operation has run for a second; at most ten times a second.
    void progress(const QString& text);
    void clearProgress();
    // A line of the summary (standard output, or standard error while the
    // received data itself goes to standard output).
    void summary(const QString& line);
    void setSummaryToStderr(bool toStderr) { summaryToStderr_ = toStderr; }
    // A failure, on standard error: "rava2-station: <text>".
    void error(const QString& text);
    // The run's object: `fields` with "version", "command" and "ok".
    void json(QJsonObject fields, bool ok);
    bool wantsJson() const { return options_.json; }

private:
    const Options& options_;
    QElapsedTimer started_;
    QElapsedTimer lastProgress_;
    bool terminal_ = false;
    bool progressShown_ = false;
    bool summaryToStderr_ = false;
};

// One run of the program: the station's settings and channels set up from
// the options, the output, and SIGINT turned into a call on the event loop.
class Station : public QObject {
    Q_OBJECT
public:
    explicit Station(const Options& options, QObject* parent = nullptr);
    ~Station() override;

    const Options& options() const { return options_; }
    StationSettings& settings() { return settings_; }
    StationLink& link() { return *link_; }
    Output& out() { return out_; }
    int port() const { return port_; }
    LineParams lineParams() const;
    QString lineShown() const;

    // Called on the event loop when SIGINT came; the command stops cleanly
    // and ends with kInterrupted.
    void onInterrupt(std::function<void()> handler) { interrupt_ = std::move(handler); }
    bool interrupted() const { return interrupted_; }
    // Ends the event loop with `code`.
    void exit(int code);

    // Runs the event loop until exit(); returns the code.
    int run();

private:
    void onSignal();

    const Options& options_;
    StationSettings settings_;
    StationLink* link_;
    Output out_;
    int port_ = 1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> interrupt_;
    bool interrupted_ = false;
};

// The subcommands; each returns the exit status.
int sendText(Station& station);
int receiveText(Station& station);
int sendImage(Station& station);
int receiveImage(Station& station);
int poll(Station& station);
int respond(Station& station);
int registers(Station& station);
int linkTest(Station& station);
int echo(Station& station);

// `v` to `decimals` places, for figures in JSON.
double rounded(double v, int decimals);

// Round-trip figures of a list of milliseconds, sorted: {min, median, p99}.
QJsonObject rttJson(const QList<double>& sortedMs);
QString rttText(const QList<double>& sortedMs);

} // namespace rava::station
