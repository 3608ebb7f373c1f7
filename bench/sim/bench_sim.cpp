// Figures of the module simulator, through raw pseudo-terminal descriptors:
//   relay latency: station write to the other station's read, 115200 baud,
//                  --no-pacing, median and 99th percentile;
//   pacing: time for 1000 bytes to arrive at 9600 baud (10 bits a byte
//           gives 1.0417 s at the least).
// The simulator is $RAVA2_SIM, or rava2-sim next to this program.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::string simPath(const char* argv0) {
    if (const char* env = std::getenv("RAVA2_SIM"); env && *env)
        return env;
    std::string self = argv0;
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/rava2-sim";
}

class Sim {
public:
    Sim(const std::string& binary, std::vector<std::string> args) {
        char tmpl[] = "/tmp/rava2-bench-XXXXXX";
        if (!mkdtemp(tmpl))
            fail("mkdtemp");
        dir_ = tmpl;
        args.insert(args.begin(), {binary, "--dir", dir_});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            fail("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, binary.c_str(), &fa, nullptr, argv.data(), environ) != 0)
            fail(("cannot start " + binary).c_str());
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        std::string seen;
        char buf[256];
        while (seen.find("ready\n") == std::string::npos) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                fail("the simulator did not get ready");
            seen.append(buf, size_t(n));
        }
        out_ = out[0];
    }
    ~Sim() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        close(out_);
        rmdir(dir_.c_str());
    }

    // Opens a module's link as a station: raw, 8N1 at `speed`.
    int station(const char* name, speed_t speed) {
        const std::string path = dir_ + "/" + name;
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            fail(("open " + path).c_str());
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        tcsetattr(fd, TCSANOW, &t);
        return fd;
    }

    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "bench_sim: %s: %s\n", what, std::strerror(errno));
        std::exit(1);
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
    int out_ = -1;
};

void writeAll(int fd, const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            Sim::fail("write");
    }
}

// Reads until `count` bytes have come; false on a 5 s timeout.
bool readCount(int fd, size_t count) {
    size_t got = 0;
    const auto start = Clock::now();
    unsigned char buf[4096];
    while (got < count) {
        if (msSince(start) > 5000)
            return false;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 100);
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            got += size_t(n);
    }
    return true;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

void relayLatency(const std::string& binary) {
    Sim sim(binary, {"--no-pacing", "M=master:0", "S=slave:7"});
    const int master = sim.station("M", B115200);
    const int slave = sim.station("S", B115200);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // stations seen
    const int packets = 500;
    std::vector<double> down, up;
    std::vector<unsigned char> toSlave(17, 'x'), toMaster(16, 'y');
    toSlave[0] = 7;
    int lost = 0;
    for (int i = 0; i < packets; ++i) {
        auto t = Clock::now();
        writeAll(master, toSlave);
        if (readCount(slave, 16))
            down.push_back(msSince(t));
        else
            ++lost;
        t = Clock::now();
        writeAll(slave, toMaster);
        if (readCount(master, 17))
            up.push_back(msSince(t));
        else
            ++lost;
    }
    std::printf("relay latency, 115200 baud, --no-pacing, %d packets each way of 16 payload bytes"
                " (frame gap 2 ms included):\n",
                packets);
    std::printf("  master->slave  median %.3f ms  p99 %.3f ms  max %.3f ms\n",
                percentile(down, 0.5), percentile(down, 0.99), percentile(down, 1.0));
    std::printf("  slave->master  median %.3f ms  p99 %.3f ms  max %.3f ms\n", percentile(up, 0.5),
                percentile(up, 0.99), percentile(up, 1.0));
    if (lost)
        std::printf("  %d packets did not arrive\n", lost);
    close(master);
    close(slave);
}

void pacing(const std::string& binary) {
    Sim sim(binary, {"--baud", "9600", "M=master:0", "S=slave:7"});
    const int master = sim.station("M", B9600);
    const int slave = sim.station("S", B9600);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<unsigned char> packet(1001);
    packet[0] = 7;
    for (size_t i = 1; i < packet.size(); ++i)
        packet[i] = (unsigned char)(i % 251);
    const auto t = Clock::now();
    writeAll(master, packet);
    const bool ok = readCount(slave, 1000);
    const double ms = msSince(t);
    std::printf("pacing, 9600 baud: 1000 bytes arrived in %.3f s (line time 1.042 s)%s\n",
                ms / 1000, ok ? "" : " -- INCOMPLETE");
    close(master);
    close(slave);
}

} // namespace

int main(int, char** argv) {
    const std::string binary = simPath(argv[0]);
    relayLatency(binary);
    pacing(binary);
    return 0;
}
