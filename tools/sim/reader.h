#pragma once

#include "types.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rava::sim {

constexpr Nanos kForever = Nanos(1) << 62;

// A piece of what a station wrote, as the reading process took it.
struct Chunk {
    Nanos stamp = 0;    // when it was read (the monotonic clock)
    bool fresh = false; // the kernel was seen empty before it and nothing held
                        // reading back: its bytes arrived at `stamp`
    Nanos lateness = 0; // how late the reader may have been (kForever: it was
                        // stopped): its bytes may have waited that long, and
                        // may hold writes that were that far apart
    bool gone = false;  // no bytes: the station side is closed and all it
                        // wrote has been read
};

// Reads the stations' bytes in a process of its own, so that nothing the
// simulator does (a long pass, a busy machine, being stopped) delays the
// reading: each chunk is read as soon as it arrives and stamped with the
// time it was read. The process asks for a real-time priority (else a
// higher one), and goes without when the system refuses.
//
// Each module has a lane in memory shared with the process: a ring of
// stamped chunks. The process reads at most `lookahead` bytes ahead of what
// the module has handed on (handedOn()); the rest waits in the kernel, so
// the station's writes wait as on a real line.
//
// Each chunk says how late the reader may have been: how long, since it
// last went to sleep with every station read, it waited to run (the
// kernel's run delay of its thread), or that it was stopped (SIGCONT seen).
// Its bytes may have waited that long, so writes that far apart may have
// been read as one chunk.
class StationReader {
public:
    struct Lane {
        int fd;                // the module's side of the pseudo-terminal
        std::size_t lookahead; // the module's receive buffer
    };

    StationReader() = default;
    ~StationReader(); // ends the process
    StationReader(const StationReader&) = delete;
    StationReader& operator=(const StationReader&) = delete;

    // Starts the process, which keeps only the lanes' descriptors open.
    bool start(const std::vector<Lane>& lanes, std::string& error);
    pid_t pid() const { return pid_; }

    // Readable while chunks wait to be taken; hung up once the process ended.
    int wakeFd() const { return wakeRead_; }
    // Empties wakeFd(); take every lane's chunks after it.
    void clearWake();

    // The next chunk of lane `i`, its bytes in `bytes`; false when none waits.
    bool next(std::size_t i, Chunk& chunk, Bytes& bytes);
    // The module has handed on `total` bytes of its station, ever: the
    // reader may read that far plus the lookahead.
    void handedOn(std::size_t i, std::uint64_t total);
    // Look at the station's side again: a station may have opened it, or
    // written and closed before it was noticed.
    void watch(std::size_t i);
    // Nothing waits to be taken in lane `i` and the reader is not reading:
    // everything the station wrote up to now has been taken.
    bool quiet(std::size_t i) const;

private:
    void poke();

    void* shared_ = nullptr;
    std::size_t sharedSize_ = 0;
    std::size_t lanes_ = 0;
    std::size_t ringSize_ = 0;
    pid_t pid_ = -1;
    int wakeRead_ = -1;
    int controlWrite_ = -1;
};

} // namespace rava::sim
