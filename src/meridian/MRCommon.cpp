#include "meridian/MRCommon.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/Strings.h"
#include "platform/ui/Device.h"

namespace meridian {

void mrLog(std::string_view text) {
    platform::logLine(std::string(kMRLogPrefix) + std::string(text));
}

const MRDeviceFacts& mrDeviceFacts() {
    static const MRDeviceFacts facts = [] {
        MRDeviceFacts f;
        auto& device = platform::Device::current();
        f.uniqueIdentifier = device.uniqueIdentifier();
        f.model = device.model();
        f.systemVersion = device.systemVersion();
        utsname names{};
        f.machine = uname(&names) == 0 ? std::string(names.machine) : std::string();
        f.userAgent = f.model + " " + f.systemVersion;
        return f;
    }();
    return facts;
}

std::string mrAdServerBaseURL() {
    return platform::servicesBaseURL() + std::string(kMRAdServerPath);
}

namespace {

constexpr std::array<std::string_view, 4> kLoopbackHosts = {"127.0.0.1", "localhost", "::1", "[::1]"};
constexpr std::string_view kSchemeSeparator = "://";

// "scheme://authority" of an http or https address on a loopback host, and the rest of it.
std::optional<std::pair<std::string, std::string>> splitLoopbackOrigin(const std::string& address) {
    auto url = platform::URL::parse(address);
    if (!url || (url->scheme() != "http" && url->scheme() != "https") || !url->host())
        return std::nullopt;
    if (std::find(kLoopbackHosts.begin(), kLoopbackHosts.end(), platform::toLower(*url->host())) ==
        kLoopbackHosts.end())
        return std::nullopt;
    auto authority = address.find(kSchemeSeparator);
    if (authority == std::string::npos)
        return std::nullopt;
    auto rest = address.find_first_of("/?#", authority + kSchemeSeparator.size());
    if (rest == std::string::npos)
        rest = address.size();
    return std::make_pair(address.substr(0, rest), address.substr(rest));
}

} // namespace

std::string mrResolveCachedAddress(const std::string& address) {
    auto base = splitLoopbackOrigin(platform::servicesBaseURL());
    if (!base)
        return address;
    auto cached = splitLoopbackOrigin(address);
    if (!cached)
        return address;
    return base->first + cached->second;
}

std::optional<platform::URL> mrResolveCachedURL(const std::optional<platform::URL>& url) {
    if (!url)
        return url;
    auto resolved = platform::URL::parse(mrResolveCachedAddress(url->absoluteString()));
    return resolved ? resolved : url;
}

void mrResolveCachedAddresses(platform::Array& addresses) {
    for (auto& address : addresses)
        if (const auto* text = address.string())
            address = platform::Value(mrResolveCachedAddress(*text));
}

} // namespace meridian
