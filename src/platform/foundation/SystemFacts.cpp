#include "platform/foundation/SystemFacts.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <mutex>
#include <variant>

#include "platform/foundation/Strings.h"

namespace platform {
namespace {

constexpr const char* kWiFiInterfacePrefix = "en";
constexpr const char* kLoopbackInterfaceName = "lo0";
constexpr const char* kProductNameFile = "/sys/class/dmi/id/product_name";
constexpr const char* kCurrentFrequencyFile = "/sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq";
constexpr const char* kMaximumFrequencyFile = "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq";
constexpr std::int64_t kHertzPerKilohertz = 1000;

// The platform's processor family numbers, by the kernel's machine name.
struct CpuType {
    const char* machine;
    std::int64_t type;
    std::int64_t subtype;
};
constexpr CpuType kCpuTypes[] = {
    {"x86_64", 0x01000007, 3}, {"aarch64", 0x0100000c, 0}, {"arm64", 0x0100000c, 0},
    {"i686", 7, 3},            {"i386", 7, 3},             {"armv7l", 12, 9},
};

using Fact = std::variant<std::string, std::int64_t>;

struct Overrides {
    std::mutex mutex;
    std::map<std::string, std::optional<Fact>, std::less<>> facts;
    std::optional<std::optional<std::vector<NetworkInterface>>> interfaces;
};

Overrides& overrides() {
    static auto* o = new Overrides();
    return *o;
}

std::string machineName() {
    utsname names{};
    return uname(&names) == 0 ? std::string(names.machine) : std::string();
}

std::optional<std::string> firstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    std::string text(trim(line));
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::int64_t> integerIn(const char* path) {
    auto text = firstLineOf(path);
    if (!text)
        return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size())
        return std::nullopt;
    return value;
}

const CpuType* cpuType() {
    const std::string machine = machineName();
    for (const auto& row : kCpuTypes)
        if (machine == row.machine)
            return &row;
    return nullptr;
}

// The machine's own answer for a key.
std::optional<Fact> machineFact(std::string_view name) {
    if (name == "hw.machine") {
        std::string machine = machineName();
        if (machine.empty())
            return std::nullopt;
        return Fact(machine);
    }
    if (name == "hw.model") {
        if (auto product = firstLineOf(kProductNameFile))
            return Fact(*product);
        return std::nullopt;
    }
    if (name == "hw.cputype" || name == "hw.cpusubtype") {
        const CpuType* row = cpuType();
        if (!row)
            return std::nullopt;
        return Fact(name == "hw.cputype" ? row->type : row->subtype);
    }
    if (name == "hw.cpufrequency" || name == "hw.cpufrequency_max") {
        auto khz = integerIn(name == "hw.cpufrequency" ? kCurrentFrequencyFile : kMaximumFrequencyFile);
        if (!khz)
            return std::nullopt;
        return Fact(*khz * kHertzPerKilohertz);
    }
    if (name == "hw.memsize") {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0)
            return std::nullopt;
        return Fact(static_cast<std::int64_t>(pages) * pageSize);
    }
    if (name == "hw.ncpu") {
        const long count = sysconf(_SC_NPROCESSORS_ONLN);
        if (count <= 0)
            return std::nullopt;
        return Fact(static_cast<std::int64_t>(count));
    }
    return std::nullopt;
}

std::optional<Fact> fact(std::string_view name) {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (auto it = o.facts.find(name); it != o.facts.end())
            return it->second;
    }
    return machineFact(name);
}

std::optional<std::vector<NetworkInterface>> machineInterfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::vector<NetworkInterface> out;
    std::map<std::string, std::string> shownAs; // the machine's name -> "enN"
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !(i->ifa_flags & IFF_UP))
            continue;
        NetworkInterface itf;
        char text[INET6_ADDRSTRLEN] = {};
        if (i->ifa_addr->sa_family == AF_INET) {
            itf.family = NetworkInterface::Family::IPv4;
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            itf.family = NetworkInterface::Family::IPv6;
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, text, sizeof text);
        } else {
            continue;
        }
        itf.address = text;
        itf.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        if (itf.loopback) {
            itf.name = kLoopbackInterfaceName;
        } else {
            const std::string own = i->ifa_name ? i->ifa_name : "";
            auto [it, added] = shownAs.try_emplace(own, "");
            if (added)
                it->second = kWiFiInterfacePrefix + std::to_string(shownAs.size() - 1);
            itf.name = it->second;
        }
        out.push_back(std::move(itf));
    }
    freeifaddrs(list);
    return out;
}

} // namespace

std::optional<std::string> SystemFacts::sysctlString(std::string_view name) {
    auto f = fact(name);
    if (!f)
        return std::nullopt;
    if (auto s = std::get_if<std::string>(&*f))
        return *s;
    return std::nullopt;
}

std::optional<std::int64_t> SystemFacts::sysctlInteger(std::string_view name) {
    auto f = fact(name);
    if (!f)
        return std::nullopt;
    if (auto i = std::get_if<std::int64_t>(&*f))
        return *i;
    return std::nullopt;
}

std::optional<std::int64_t> SystemFacts::kernBootTime() {
    if (auto f = fact("kern.boottime"))
        if (auto i = std::get_if<std::int64_t>(&*f))
            return *i;
    timespec sinceBoot{};
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0 || clock_gettime(CLOCK_REALTIME, &now) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(now.tv_sec - sinceBoot.tv_sec);
}

std::optional<std::vector<NetworkInterface>> SystemFacts::networkInterfaces() {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (o.interfaces)
            return *o.interfaces;
    }
    return machineInterfaces();
}

void SystemFacts::setSysctlStringForTesting(std::string name, std::optional<std::string> value) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.facts.insert_or_assign(std::move(name), value ? std::optional<Fact>(Fact(*value)) : std::nullopt);
}

void SystemFacts::setSysctlIntegerForTesting(std::string name, std::optional<std::int64_t> value) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.facts.insert_or_assign(std::move(name), value ? std::optional<Fact>(Fact(*value)) : std::nullopt);
}

void SystemFacts::setNetworkInterfacesForTesting(std::optional<std::vector<NetworkInterface>> interfaces) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.interfaces = std::move(interfaces);
}

void SystemFacts::resetForTesting() {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    o.facts.clear();
    o.interfaces.reset();
}

} // namespace platform
