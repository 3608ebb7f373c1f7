// Setting up: the directory and its lock, the pseudo-terminals and their
// links, the reading process.
#include "simulator.h"
#include "simulator_common.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rava::sim {

bool Simulator::checkPlaces(std::string& error) const {
    struct stat st {};
    if (::stat(options_.dir.c_str(), &st) != 0) {
        error = "cannot use directory '" + options_.dir + "': " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "'" + options_.dir + "' is not a directory";
        return false;
    }
    if (::access(options_.dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write to directory '" + options_.dir + "': " + std::strerror(errno);
        return false;
    }
    for (const auto& m : modules_) {
        struct stat ls {};
        // A link left by an earlier run is replaced; anything else is kept.
        if (::lstat(m.link.c_str(), &ls) == 0 && !S_ISLNK(ls.st_mode)) {
            error = "'" + m.link + "' exists and is not a link";
            return false;
        }
    }
    return true;
}

bool Simulator::lockDirectory(std::string& error) {
    lockPath_ = joinPath(options_.dir, kLockFileName);
    // The lock is on the file a path names at the moment; a simulator that
    // is ending removes it, so the lock only counts once the path still
    // names the locked file.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot create lock file '" + lockPath_ + "': " + std::strerror(errno);
            return false;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int why = errno;
            char pid[32] = {};
            const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
            ::close(fd);
            if (why == EWOULDBLOCK) {
                std::string holder = n > 0 ? std::string(pid, std::size_t(n)) : std::string();
                holder.erase(holder.find_last_not_of(" \n") + 1);
                error = "directory '" + options_.dir + "' is in use by another rava2-sim" +
                        (holder.empty() ? std::string() : " (pid " + holder + ")") +
                        "; stop it or choose another --dir";
            } else {
                error = "cannot lock '" + lockPath_ + "': " + std::strerror(why);
            }
            return false;
        }
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && ::lstat(lockPath_.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
                // The pid is only a courtesy for the message above.
            }
            lockFd_ = fd;
            return true;
        }
        ::close(fd);
    }
    error = "cannot lock '" + lockPath_ + "': it keeps changing";
    return false;
}

void Simulator::unlockDirectory() {
    if (lockFd_ < 0)
        return;
    ::unlink(lockPath_.c_str());
    ::close(lockFd_);
    lockFd_ = -1;
}

bool Simulator::start(std::string& error) {
    if (!checkPlaces(error) || !lockDirectory(error))
        return false;
    if (!options_.trace.empty() && !trace_.open(options_.trace)) {
        error = "cannot write trace '" + options_.trace + "': " + std::strerror(errno);
        unlockDirectory();
        return false;
    }
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (auto& m : modules_) {
        auto port = PtyPort::create(m.line(), error);
        if (!port) {
            removeLinks();
            unlockDirectory();
            return false;
        }
        m.port = std::move(*port);
        watchStation(m);
        ::unlink(m.link.c_str());
        if (::symlink(m.port.stationPath().c_str(), m.link.c_str()) != 0) {
            error = "cannot create link '" + m.link + "': " + std::strerror(errno);
            removeLinks();
            unlockDirectory();
            return false;
        }
        m.linked = true;
    }
    std::vector<StationReader::Lane> lanes;
    for (const auto& m : modules_)
        lanes.push_back({m.port.fd(), m.intake.room()});
    if (!reader_.start(lanes, error)) {
        removeLinks();
        unlockDirectory();
        return false;
    }
    return true;
}

void Simulator::removeLinks() {
    for (auto& m : modules_) {
        if (!m.linked)
            continue;
        // Only our own link: someone may have put another in its place.
        char target[512];
        const ssize_t n = ::readlink(m.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, size_t(n)) == m.port.stationPath())
            ::unlink(m.link.c_str());
        m.linked = false;
    }
}

void Simulator::announce() const {
    for (const auto& m : modules_)
        say(m.name + ' ' + m.port.stationPath());
    say("ready");
}

} // namespace rava::sim
