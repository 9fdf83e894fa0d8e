// ferrowick-services: serves the remote services on loopback HTTP from the fixtures folder,
// prints the base URL on one line, and runs until interrupted. A fixtures folder that is missing
// or holds no file is refused at start (status 1), with the reason on standard error.
//   ferrowick-services [--port N] [--address A] [--fixtures DIR] [-h|--help]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

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

// Why `folder` cannot be served, or nothing when it can: it must be a folder that holds at
// least one file somewhere below it, or every request would be answered 404.
std::optional<std::string> fixturesFolderProblem(const std::string& folder) {
    namespace fs = std::filesystem;
    const std::string quoted = "\"" + folder + "\"";
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return "there is no fixtures folder " + quoted;
    if (ec)
        return "cannot read the fixtures folder " + quoted + ": " + ec.message();
    if (!fs::is_directory(status))
        return quoted + " is not a folder";
    fs::recursive_directory_iterator it(folder, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError; // a link to nothing is no file, and no reason to stop
        if (it->is_regular_file(entryError))
            return std::nullopt;
    }
    if (ec)
        return "cannot read the fixtures folder " + quoted + ": " + ec.message();
    return "the fixtures folder " + quoted + " holds no fixture files";
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

    if (auto problem = fixturesFolderProblem(fixtures)) {
        std::fprintf(stderr, "ferrowick-services: %s\n", problem->c_str());
        return 1;
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
