// ferrowick-services: serves the remote services on loopback HTTP from the fixtures folder,
// prints the base URL on one line, and runs until interrupted.
//   ferrowick-services [--port N] [--address A] [--fixtures DIR] [-h|--help]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "services/ServiceHost.h"
#include "services/StandardEndpoints.h"

namespace {

constexpr const char* kUsage = "usage: ferrowick-services [--port N] [--address A] [--fixtures DIR] [-h|--help]\n";

bool parsePort(const char* text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!end || *end != '\0' || value < 0 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int port = 0;
    std::string address = "127.0.0.1";
    std::string fixtures = services::ServiceHost::defaultFixturesDir();
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--port" && hasValue) {
            if (!parsePort(argv[++i], port)) {
                std::fprintf(stderr, "ferrowick-services: bad port \"%s\"\n%s", argv[i], kUsage);
                return 2;
            }
        } else if (arg == "--address" && hasValue) {
            address = argv[++i];
        } else if (arg == "--fixtures" && hasValue) {
            fixtures = argv[++i];
        } else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
    }

    // Block the stop signals before the server's threads exist, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    services::ServiceHost host(fixtures);
    services::installStandardEndpoints(host);
    std::string url = host.start(port, address);
    if (url.empty()) {
        std::fprintf(stderr, "ferrowick-services: cannot listen on %s:%d\n", address.c_str(), port);
        return 1;
    }
    std::printf("%s\n", url.c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    host.stop();
    return 0;
}
