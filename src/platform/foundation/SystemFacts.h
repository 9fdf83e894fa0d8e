#pragma once
// Hardware and kernel facts asked for by name, as the platform's system-control keys, and
// the list of network interfaces with their addresses.
//
// The stand-in device is the machine it runs on, so the answers come from it:
//   "hw.machine"            text: the machine's hardware name (the kernel's machine field)
//   "hw.model"              text: the machine's product name, when the firmware tells it
//   "hw.cputype", "hw.cpusubtype"  integers: the processor family, in the platform's numbers
//   "hw.cpufrequency", "hw.cpufrequency_max"  integers: current and highest clock rate in Hz,
//                           when the kernel reports them
//   "hw.memsize"            integer: bytes of physical memory
//   "hw.ncpu"               integer: processors online
// Any other key, or a fact the machine does not report, answers nothing (as a failed query
// does); a text key read as an integer, or the reverse, answers nothing too. The kernel's
// boot time is its own call (kernBootTime).
//
// Network interfaces: the platform names its Wi-Fi interface "en0" and its loopback "lo0".
// The machine's own interfaces are shown under those names: the loopback ones as "lo0",
// the others as "en0", "en1", ... in the order the system lists them, so a machine with a
// network connection looks like a device on Wi-Fi. Each entry is one IPv4 or IPv6 address
// of an interface that is up.
//
// Tests (and the runner) replace any fact or the whole interface list; resetForTesting
// brings back the machine's own. Thread-safe.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct NetworkInterface {
    enum class Family { IPv4, IPv6 };
    std::string name;    // "en0", "lo0", ...
    Family family = Family::IPv4;
    std::string address; // dotted IPv4 or textual IPv6
    bool loopback = false;
};

class SystemFacts {
public:
    static std::optional<std::string> sysctlString(std::string_view name);
    static std::optional<std::int64_t> sysctlInteger(std::string_view name);
    // Seconds since 1970 at which the kernel booted; nullopt when it cannot be read.
    static std::optional<std::int64_t> kernBootTime();
    // nullopt when the list cannot be read.
    static std::optional<std::vector<NetworkInterface>> networkInterfaces();

    // Replacements for tests: a fact set to nullopt answers nothing; an interface list set to
    // nullopt is one that cannot be read.
    static void setSysctlStringForTesting(std::string name, std::optional<std::string> value);
    static void setSysctlIntegerForTesting(std::string name, std::optional<std::int64_t> value);
    static void setNetworkInterfacesForTesting(std::optional<std::vector<NetworkInterface>> interfaces);
    static void resetForTesting();
};

} // namespace platform
