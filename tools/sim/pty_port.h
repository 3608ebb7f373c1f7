#pragma once

#include "line.h"

#include <optional>
#include <string>

namespace rava::sim {

// The module's end of a pseudo-terminal; the station opens the other end
// by path. The descriptor is non-blocking and the line raw.
class PtyPort {
public:
    PtyPort() = default;
    ~PtyPort();
    PtyPort(PtyPort&& other) noexcept;
    PtyPort& operator=(PtyPort&& other) noexcept;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // Creates the pseudo-terminal with `initial` as the station's starting
    // line setting. The station side is opened and closed once, so that
    // "no station" reads the same before the first station as after one.
    static std::optional<PtyPort> create(const LineSetting& initial, std::string& error);

    int fd() const { return fd_; }
    const std::string& stationPath() const { return path_; }

    // True while some process holds the station side open. Linux reports
    // POLLHUP on this side while nobody does.
    bool stationPresent() const;
    // The line setting the station set on its side; nullopt if unreadable.
    std::optional<LineSetting> stationLine() const;
    // Drops what was written for the station and not read yet (used when
    // the station goes away, so the next one does not read stale bytes).
    // What the station wrote stays, to be read.
    void discardOutput();

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace rava::sim
