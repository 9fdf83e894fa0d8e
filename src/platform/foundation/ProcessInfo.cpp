#include "platform/foundation/ProcessInfo.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

struct State {
    std::mutex mutex;
    std::map<std::string, std::optional<std::string>, std::less<>> overrides;
    std::vector<std::string> arguments;
};

State& state() {
    static State s;
    return s;
}

} // namespace

std::optional<std::string> ProcessInfo::environmentValue(std::string_view name) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (auto it = s.overrides.find(name); it != s.overrides.end())
        return it->second;
    // getenv reads a process-wide table that this program never changes after start-up.
    if (const char* v = std::getenv(std::string(name).c_str()))
        return std::string(v);
    return std::nullopt;
}

std::map<std::string, std::string, std::less<>> ProcessInfo::environment() {
    std::map<std::string, std::string, std::less<>> out;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string_view::npos || eq == 0)
            continue;
        out.emplace(std::string(entry.substr(0, eq)), std::string(entry.substr(eq + 1)));
    }
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (const auto& [name, value] : s.overrides) {
        if (value)
            out[name] = *value;
        else
            out.erase(name);
    }
    return out;
}

void ProcessInfo::setEnvironmentValueForTesting(std::string_view name, std::optional<std::string> value) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.overrides.insert_or_assign(std::string(name), std::move(value));
}

void ProcessInfo::resetForTesting() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.overrides.clear();
    s.arguments.clear();
}

std::vector<std::string> ProcessInfo::arguments() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.arguments;
}

void ProcessInfo::setArguments(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv; ++i)
        if (argv[i])
            args.emplace_back(argv[i]);
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.arguments = std::move(args);
}

std::string ProcessInfo::processName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    if (comm && std::getline(comm, name) && !name.empty())
        return name;
    return program_invocation_short_name ? program_invocation_short_name : "";
}

int ProcessInfo::processIdentifier() {
    return static_cast<int>(getpid());
}

std::string ProcessInfo::hostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
        return "localhost";
    return buffer;
}

std::string ProcessInfo::globallyUniqueString() {
    // Version 4 (random) identifier.
    static std::mutex m;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t hi, lo;
    {
        std::lock_guard lock(m);
        hi = engine();
        lo = engine();
    }
    hi = (hi & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;
    lo = (lo & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 32; ++i) {
        std::uint64_t word = i < 16 ? hi : lo;
        int shift = (15 - (i % 16)) * 4;
        if (i == 8 || i == 12 || i == 16 || i == 20)
            out += '-';
        out += kDigits[(word >> shift) & 0xF];
    }
    return out;
}

bool ProcessInfo::isGloballyUniqueString(std::string_view text) {
    constexpr std::size_t kLength = 36;
    constexpr std::size_t kVersionAt = 14;
    constexpr std::size_t kVariantAt = 19;
    if (text.size() != kLength)
        return false;
    for (std::size_t i = 0; i < kLength; ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return text[kVersionAt] == '4' &&
           std::string_view("89AB").find(text[kVariantAt]) != std::string_view::npos;
}

} // namespace platform
