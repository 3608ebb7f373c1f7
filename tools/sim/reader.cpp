#include "reader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rava::sim {

namespace {

// What the two processes share, at the start of the shared memory: the
// reader's state, then one LaneState per module, then one ring per module.
struct alignas(64) Control {
    std::atomic<std::uint32_t> awake{0};       // the reader is between two sleeps
    std::atomic<std::uint32_t> wakePending{0}; // a byte waits in the wake pipe
};

struct alignas(64) LaneState {
    std::atomic<std::uint64_t> head{0};     // ring bytes written (reader)
    std::atomic<std::uint64_t> tail{0};     // ring bytes taken (simulator)
    std::atomic<std::uint64_t> handedOn{0}; // station bytes the module handed on
    std::atomic<std::uint32_t> watch{0};    // requests to look at the station again
    std::atomic<std::uint32_t> waiting{0};  // the reader waits for room
    std::atomic<std::uint32_t> told{0};     // the simulator said it made room
};

static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<std::int64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the shared counters must work across processes");

// A chunk in a ring: this header, then its bytes.
struct Record {
    std::int64_t stamp;
    std::int64_t lateness;
    std::uint32_t size;
    std::uint32_t flags;
};
constexpr std::size_t kHeader = sizeof(Record);
constexpr std::uint32_t kFresh = 1, kGone = 2;

Nanos monotonicNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Layout {
    Control* control;
    LaneState* lanes;
    std::uint8_t* rings;
    std::size_t ringSize;
    std::uint8_t* ring(std::size_t i) const { return rings + i * ringSize; }
};

Layout layout(void* shared, std::size_t lanes, std::size_t ringSize) {
    auto* base = static_cast<std::uint8_t*>(shared);
    auto* control = reinterpret_cast<Control*>(base);
    auto* laneStates = reinterpret_cast<LaneState*>(base + sizeof(Control));
    auto* rings = base + sizeof(Control) + lanes * sizeof(LaneState);
    return {control, laneStates, rings, ringSize};
}

void copyIn(std::uint8_t* ring, std::size_t ringSize, std::uint64_t at, const void* from,
            std::size_t size) {
    if (size == 0)
        return;
    const auto* src = static_cast<const std::uint8_t*>(from);
    const std::size_t off = std::size_t(at % ringSize);
    const std::size_t first = std::min(size, ringSize - off);
    std::memcpy(ring + off, src, first);
    std::memcpy(ring, src + first, size - first);
}

void copyOut(const std::uint8_t* ring, std::size_t ringSize, std::uint64_t at, void* to,
             std::size_t size) {
    if (size == 0)
        return;
    auto* dst = static_cast<std::uint8_t*>(to);
    const std::size_t off = std::size_t(at % ringSize);
    const std::size_t first = std::min(size, ringSize - off);
    std::memcpy(dst, ring + off, first);
    std::memcpy(dst + first, ring, size - first);
}

volatile std::sig_atomic_t continued = 0;

void onContinue(int) {
    continued = 1;
}

// Time this thread spent ready to run but not running, ever; -1 where the
// system does not say.
Nanos runDelay(int fd) {
    char buf[128];
    const ssize_t n = fd >= 0 ? ::pread(fd, buf, sizeof buf - 1, 0) : -1;
    if (n <= 0)
        return -1;
    buf[n] = 0;
    unsigned long long running = 0, waiting = 0;
    return std::sscanf(buf, "%llu %llu", &running, &waiting) == 2 ? Nanos(waiting) : -1;
}

// The reading process.
class Reader {
public:
    Reader(const Layout& shared, const std::vector<StationReader::Lane>& lanes, int control,
           int wake)
        : shared_(shared), control_(control), wake_(wake), buffer_(65536) {
        for (const auto& l : lanes)
            lanes_.push_back({l.fd, l.lookahead});
    }

    [[noreturn]] void run() {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = ~std::uint64_t(0);
        if (epoll_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, control_, &ev) != 0)
            ::_exit(1);
        schedstat_ = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        for (std::size_t i = 0; i < lanes_.size(); ++i)
            read(i);
        wakeSimulator();
        std::vector<epoll_event> events(lanes_.size() + 1);
        for (;;) {
            shared_.control->awake.store(0);
            const Nanos before = runDelay(schedstat_);
            const int n = ::epoll_wait(epoll_, events.data(), int(events.size()), -1);
            shared_.control->awake.store(1);
            const Nanos after = runDelay(schedstat_);
            // Waited to run, or stopped: bytes may have waited for it.
            noteStop();
            if (before >= 0 && after >= 0)
                lateness_ = std::max(lateness_, after - before);
            if (n < 0) {
                if (errno != EINTR)
                    ::_exit(1);
                continue;
            }
            for (int k = 0; k < n; ++k) {
                const std::uint64_t which = events[std::size_t(k)].data.u64;
                if (which == ~std::uint64_t(0))
                    readControl();
                else
                    read(std::size_t(which));
            }
            // Requests of the simulator, and room it made.
            for (std::size_t i = 0; i < lanes_.size(); ++i) {
                LaneLocal& l = lanes_[i];
                const std::uint32_t w = shared_.lanes[i].watch.load();
                const bool asked = w != l.watchSeen;
                l.watchSeen = w;
                if (!l.watched && (asked || l.heldBack)) {
                    shared_.lanes[i].told.store(0);
                    read(i);
                }
            }
            lateness_ = 0;
            // Never a loop that takes the processor: woken at once with
            // nothing to read, many times over, it waits a little.
            const Nanos end = monotonicNow();
            idleRounds_ = published_ || end - lastRound_ > 100'000 ? 0 : idleRounds_ + 1;
            lastRound_ = end;
            if (published_)
                wakeSimulator();
            published_ = false;
            if (idleRounds_ > 1000)
                ::usleep(1000);
        }
    }

private:
    struct LaneLocal {
        int fd;
        std::size_t lookahead;
        bool watched = false;  // in the epoll set
        bool sawEmpty = true;  // the kernel had nothing at the last read
        bool heldBack = false; // reading stopped for want of room
        std::uint32_t watchSeen = 0;
        std::uint64_t read = 0; // station bytes read, ever
    };
    static constexpr Nanos kStopped = kForever;

    // Stopped and continued since it last looked: what it reads now may
    // have waited all that time.
    void noteStop() {
        if (continued) {
            continued = 0;
            lateness_ = kStopped;
        }
    }

    void readControl() {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(control_, buf, sizeof buf);
            if (n == 0)
                ::_exit(0); // the simulator ended
            if (n < 0 && errno != EINTR)
                return;
        }
    }

    void wakeSimulator() {
        if (shared_.control->wakePending.exchange(1) == 0) {
            const char byte = 1;
            [[maybe_unused]] const auto n = ::write(wake_, &byte, 1);
        }
    }

    void setWatched(LaneLocal& l, std::size_t i, bool on) {
        if (l.watched == on)
            return;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = i;
        ::epoll_ctl(epoll_, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, l.fd, &ev);
        l.watched = on;
    }

    std::size_t room(std::size_t i) const {
        const LaneLocal& l = lanes_[i];
        const LaneState& s = shared_.lanes[i];
        const std::uint64_t ahead = l.read - std::min(l.read, s.handedOn.load());
        const std::size_t budget = ahead >= l.lookahead ? 0 : l.lookahead - std::size_t(ahead);
        const std::uint64_t used = s.head.load(std::memory_order_relaxed) - s.tail.load();
        const std::size_t free = shared_.ringSize - std::size_t(used);
        return free <= kHeader ? 0 : std::min(budget, free - kHeader);
    }

    void publish(std::size_t i, const Record& r, const std::uint8_t* bytes) {
        LaneState& s = shared_.lanes[i];
        const std::uint64_t head = s.head.load(std::memory_order_relaxed);
        copyIn(shared_.ring(i), shared_.ringSize, head, &r, kHeader);
        copyIn(shared_.ring(i), shared_.ringSize, head + kHeader, bytes, r.size);
        s.head.store(head + kHeader + r.size, std::memory_order_release);
        published_ = true;
    }

    // Reads lane `i` until the kernel has nothing or there is no room.
    void read(std::size_t i) {
        LaneLocal& l = lanes_[i];
        LaneState& s = shared_.lanes[i];
        for (;;) {
            std::size_t want = room(i);
            if (want == 0) {
                // Out of the epoll set: the kernel keeps the bytes. The
                // simulator says when it made room; looked at again after
                // saying so, in case it made room meanwhile.
                setWatched(l, i, false);
                l.heldBack = true;
                s.waiting.store(1);
                if ((want = room(i)) == 0)
                    return;
            }
            // Reading again: a later want of room is told anew.
            s.waiting.store(0);
            s.told.store(0);
            setWatched(l, i, true);
            const ssize_t n = ::read(l.fd, buffer_.data(), std::min(want, buffer_.size()));
            if (n > 0) {
                noteStop();
                Record r{monotonicNow(), lateness_, std::uint32_t(n), 0};
                if (l.sawEmpty && !l.heldBack)
                    r.flags |= kFresh;
                publish(i, r, buffer_.data());
                l.read += std::uint64_t(n);
                l.sawEmpty = false;
                l.heldBack = false;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            l.sawEmpty = true;
            l.heldBack = false;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // End of file or EIO: no process holds the station side and all
            // it wrote has been read. Looked at again when the simulator asks.
            setWatched(l, i, false);
            publish(i, Record{monotonicNow(), 0, 0, kGone}, buffer_.data());
            return;
        }
    }

    Layout shared_;
    int control_;
    int wake_;
    int epoll_ = -1;
    int schedstat_ = -1;
    Nanos lateness_ = 0;
    bool published_ = false;
    int idleRounds_ = 0;
    Nanos lastRound_ = 0;
    std::vector<LaneLocal> lanes_;
    Bytes buffer_;
};

// Closes every descriptor but `keep` (sorted).
void closeAllBut(std::vector<int> keep) {
    std::sort(keep.begin(), keep.end());
    int from = 3;
    for (const int fd : keep) {
        if (fd > from)
            ::close_range(unsigned(from), unsigned(fd - 1), 0);
        from = std::max(from, fd + 1);
    }
    ::close_range(unsigned(from), ~0U, 0);
}

void raisePriority() {
    sched_param p{};
    p.sched_priority = 1;
    if (::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &p) == 0)
        return;
    ::setpriority(PRIO_PROCESS, 0, -10);
}

} // namespace

StationReader::~StationReader() {
    if (controlWrite_ >= 0)
        ::close(controlWrite_); // the process ends at this
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (wakeRead_ >= 0)
        ::close(wakeRead_);
    if (shared_)
        ::munmap(shared_, sharedSize_);
}

bool StationReader::start(const std::vector<Lane>& lanes, std::string& error) {
    lanes_ = lanes.size();
    std::size_t most = 1;
    for (const auto& l : lanes)
        most = std::max(most, l.lookahead);
    // Room for the lookahead and the headers of many small chunks.
    ringSize_ = 2 * most + 64 * kHeader;
    sharedSize_ = sizeof(Control) + lanes_ * (sizeof(LaneState) + ringSize_);
    shared_ =
        ::mmap(nullptr, sharedSize_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared_ == MAP_FAILED) {
        shared_ = nullptr;
        error =
            std::string("cannot share memory with the reading process: ") + std::strerror(errno);
        return false;
    }
    const Layout l = layout(shared_, lanes_, ringSize_);
    new (l.control) Control;
    l.control->awake.store(1); // it reads everything once before it first sleeps
    for (std::size_t i = 0; i < lanes_; ++i)
        new (&l.lanes[i]) LaneState;

    int wake[2], control[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(control, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(wake[0]);
        ::close(wake[1]);
        return false;
    }
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        error = std::string("cannot start the reading process: ") + std::strerror(errno);
        for (int fd : {wake[0], wake[1], control[0], control[1]})
            ::close(fd);
        return false;
    }
    if (pid_ == 0) {
        // The reading process: it ends with the simulator, and never runs
        // the simulator's own clean-up.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(0);
        ::prctl(PR_SET_NAME, "rava2-sim-read");
        struct sigaction sa {};
        sa.sa_handler = SIG_DFL;
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(sig, &sa, nullptr);
        sa.sa_handler = onContinue;
        ::sigaction(SIGCONT, &sa, nullptr);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2})
            ::dup2(null, fd);
        std::vector<int> keep{wake[1], control[0]};
        for (const auto& lane : lanes)
            keep.push_back(lane.fd);
        closeAllBut(keep);
        raisePriority();
        Reader(l, lanes, control[0], wake[1]).run();
    }
    ::close(wake[1]);
    ::close(control[0]);
    wakeRead_ = wake[0];
    controlWrite_ = control[1];
    return true;
}

void StationReader::clearWake() {
    char buf[64];
    while (::read(wakeRead_, buf, sizeof buf) > 0) {
    }
    // Emptied first: a chunk published after this writes to the pipe again,
    // and one published before it is taken by the pass that follows.
    layout(shared_, lanes_, ringSize_).control->wakePending.exchange(0);
}

// Tells the reader, once, that it may read again.
static void madeRoomIn(LaneState& s, int controlWrite) {
    if (s.waiting.load() && s.told.exchange(1) == 0) {
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(controlWrite, &byte, 1);
    }
}

void StationReader::poke() {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(controlWrite_, &byte, 1);
}

bool StationReader::next(std::size_t i, Chunk& chunk, Bytes& bytes) {
    const Layout l = layout(shared_, lanes_, ringSize_);
    LaneState& s = l.lanes[i];
    const std::uint64_t tail = s.tail.load(std::memory_order_relaxed);
    if (s.head.load(std::memory_order_acquire) == tail)
        return false;
    Record r{};
    copyOut(l.ring(i), ringSize_, tail, &r, kHeader);
    bytes.resize(r.size);
    copyOut(l.ring(i), ringSize_, tail + kHeader, bytes.data(), r.size);
    s.tail.store(tail + kHeader + r.size);
    chunk.stamp = r.stamp;
    chunk.fresh = r.flags & kFresh;
    chunk.lateness = r.lateness;
    chunk.gone = r.flags & kGone;
    madeRoomIn(s, controlWrite_);
    return true;
}

void StationReader::handedOn(std::size_t i, std::uint64_t total) {
    LaneState& s = layout(shared_, lanes_, ringSize_).lanes[i];
    s.handedOn.store(total);
    madeRoomIn(s, controlWrite_);
}

void StationReader::watch(std::size_t i) {
    layout(shared_, lanes_, ringSize_).lanes[i].watch.fetch_add(1);
    poke();
}

bool StationReader::quiet(std::size_t i) const {
    const Layout l = layout(shared_, lanes_, ringSize_);
    const LaneState& s = l.lanes[i];
    return l.control->awake.load() == 0 && s.waiting.load() == 0 &&
           s.head.load(std::memory_order_acquire) == s.tail.load(std::memory_order_relaxed);
}

} // namespace rava::sim
