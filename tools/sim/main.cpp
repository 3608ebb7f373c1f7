// rava2-sim: stands in for Rava 2 radio modules so that stations can be run
// and tested on one machine. See usage() in args.cpp.
#include "args.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(stopPipe[1], &byte, 1);
}

bool installSignals() {
    if (::pipe(stopPipe) != 0)
        return false;
    for (int fd : stopPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (::sigaction(sig, &sa, nullptr) != 0)
            return false;
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace rava::sim;
    const ParseResult parsed = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (!parsed.ok()) {
        std::fprintf(stderr, "rava2-sim: %s\n(rava2-sim --help shows the usage)\n",
                     parsed.error.c_str());
        return 2;
    }
    if (!installSignals()) {
        std::perror("rava2-sim: signals");
        return 1;
    }
    Simulator sim(parsed.options);
    std::string error;
    if (!sim.start(error)) {
        std::fprintf(stderr, "rava2-sim: %s\n", error.c_str());
        return 1;
    }
    sim.announce();
    return sim.run(stopPipe[0]);
}
