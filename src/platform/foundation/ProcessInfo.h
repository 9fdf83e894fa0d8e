#pragma once
// Facts about the running process: its environment, name, identifier, arguments and host
// name, and unique strings. Clients read settings from the environment ("TGLogEnabled",
// Vellum settings), so tests need to change it: setEnvironmentValueForTesting overrides a
// variable (or hides it) for this process without touching the real environment, which is not
// safe to change while other threads run. Thread-safe.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ProcessInfo {
  public:
    // The value of an environment variable, after test overrides; nullopt when unset.
    static std::optional<std::string> environmentValue(std::string_view name);
    // The whole environment, after test overrides.
    static std::map<std::string, std::string, std::less<>> environment();

    // Overrides `name` for this process: a value sets it, nullopt hides it.
    static void setEnvironmentValueForTesting(std::string_view name, std::optional<std::string> value);
    // Drops every override and the recorded arguments.
    static void resetForTesting();

    // The command-line arguments as recorded by setArguments (the entry point calls it).
    static std::vector<std::string> arguments();
    static void setArguments(int argc, const char* const* argv);

    static std::string processName();
    static int processIdentifier();
    // The machine's host name, "localhost" when it cannot be read.
    static std::string hostName();
    // A new random identifier in the canonical UUID form, upper case
    // ("68753A44-4D6F-4226-9C60-0050E4C00067"), different on every call.
    static std::string globallyUniqueString();
    // Whether `text` is exactly one identifier of the form globallyUniqueString draws:
    // 8-4-4-4-12 upper-case hexadecimal digits, version 4, variant 8 to B.
    static bool isGloballyUniqueString(std::string_view text);
};

} // namespace platform
