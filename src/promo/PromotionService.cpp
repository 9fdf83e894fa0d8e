#include "promo/PromotionService.h"

#include <sys/utsname.h>

#include <array>
#include <cstdio>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/foundation/URL.h"
#include "platform/net/Reachability.h"
#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"

namespace promo {
namespace {

constexpr std::string_view kWWWPrefix = "www.";
constexpr std::string_view kDefaultRoute = "0.0.0.0";
constexpr std::string_view kLocalHostName = "localhost";
constexpr std::string_view kSchemeSeparator = "://";

struct MachineRow {
    std::string_view identifier;
    std::string_view name;
};
constexpr std::array<MachineRow, 13> kMachineNames = {{
    {"iPhone1,1", "iPhone 1G"},
    {"iPhone1,2", "iPhone 3G"},
    {"iPhone2,1", "iPhone 3CB"},
    {"iPhone3,1", "iPhone 4G"},
    {"iPhone3,2", "iPhone 4G"},
    {"iPhone3,3", "iPhone 4G"},
    {"iPod1,1", "iPodTouch 1G"},
    {"iPod2,1", "iPodTouch 2G"},
    {"iPod2,2", "iPodTouch 2.5G"},
    {"iPod3,1", "iPodTouch 3G"},
    {"iPod4,1", "iPodTouch 4G"},
    {"iPad1,1", "iPad 1G"},
    {"iPad2,1", "iPad 2G"},
}};
constexpr std::string_view kUnknownMachine = "Unknown";

std::mutex machineMutex;
std::string machineOverride;

std::string hostWithoutPort(std::string_view hostAndPort) {
    if (!hostAndPort.empty() && hostAndPort.front() == '[') // "[v6]:port"
        return std::string(hostAndPort.substr(0, hostAndPort.find(']') + 1));
    auto colon = hostAndPort.rfind(':');
    if (colon != std::string_view::npos && hostAndPort.find(':') == colon)
        return std::string(hostAndPort.substr(0, colon));
    return std::string(hostAndPort);
}

bool isIPAddress(const std::string& host) {
    if (host.empty())
        return false;
    if (host.front() == '[' || host.find(':') != std::string::npos)
        return true; // IPv6
    // Dotted IPv4: digits and dots only.
    return host.find_first_not_of("0123456789.") == std::string::npos;
}

} // namespace

bool isTabletDevice() {
    return platform::Device::current().userInterfaceIdiom() != platform::UserInterfaceIdiom::Phone;
}

std::string wwwHostForm(std::string_view hostAndPort) {
    std::string host = hostWithoutPort(hostAndPort);
    if (host.empty() || isIPAddress(host) || host == kLocalHostName || host.rfind(kWWWPrefix, 0) == 0)
        return std::string(hostAndPort);
    return std::string(kWWWPrefix) + std::string(hostAndPort);
}

std::string houseNewsBaseURL() {
    std::string base = platform::servicesBaseURL();
    if (base.empty())
        return {};
    // Only the host changes: the scheme, the port and any path prefix of the base stay.
    auto authority = base.find(kSchemeSeparator);
    if (authority == std::string::npos)
        return base;
    authority += kSchemeSeparator.size();
    auto pathStart = base.find_first_of("/?#", authority);
    if (pathStart == std::string::npos)
        pathStart = base.size();
    std::string_view hostAndPort = std::string_view(base).substr(authority, pathStart - authority);
    if (auto at = hostAndPort.rfind('@'); at != std::string_view::npos) {
        authority += at + 1; // user information stays as it is
        hostAndPort.remove_prefix(at + 1);
    }
    return base.substr(0, authority) + wwwHostForm(hostAndPort) + base.substr(pathStart);
}

std::string promotionURL(const PromotionEndpoint& endpoint, const QueryItems& query) {
    std::string url = endpoint.wwwHost ? houseNewsBaseURL() : platform::servicesBaseURL();
    url += isTabletDevice() ? endpoint.tabletPath : endpoint.phonePath;
    bool first = url.find('?') == std::string::npos;
    for (const auto& [name, value] : query) {
        url += first ? '?' : '&';
        first = false;
        url += name + "=" + platform::percentEncodeQueryValue(value);
    }
    return url;
}

void sendPromotionReport(const std::string& url) {
    auto request = platform::URLRequest::withURLString(url);
    if (!request) {
        platform::logLine("promotion report not sent, bad URL: " + url);
        return;
    }
    platform::URLConnection::create(*request, nullptr);
}

bool isApplicationInstalled(std::string_view appIdentity) {
    if (appIdentity.empty())
        return false;
    return platform::Application::shared().canOpenURL(appIdentity);
}

bool connectedToNetwork() {
    auto reachability = platform::Reachability::createWithAddress(kDefaultRoute);
    std::optional<platform::ReachabilityFlags> flags;
    if (reachability)
        flags = reachability->getFlags();
    if (!flags) {
        std::printf("Error. Could not recover network reachability flags\n");
        return false;
    }
    return (*flags & platform::kReachabilityFlagsReachable) != 0 &&
           (*flags & platform::kReachabilityFlagsConnectionRequired) == 0;
}

std::string machineNameForIdentifier(std::string_view identifier) {
    for (const auto& row : kMachineNames)
        if (row.identifier == identifier)
            return std::string(row.name);
    return std::string(kUnknownMachine);
}

std::string machineName() {
    std::string identifier;
    {
        std::lock_guard lock(machineMutex);
        identifier = machineOverride;
    }
    if (identifier.empty()) {
        struct utsname name {};
        if (::uname(&name) == 0)
            identifier = name.machine;
    }
    platform::logLine("Device Generation: " + identifier);
    return machineNameForIdentifier(identifier);
}

void setMachineIdentifierForTesting(std::string identifier) {
    std::lock_guard lock(machineMutex);
    machineOverride = std::move(identifier);
}

std::shared_ptr<platform::Button> makeCloseButton(const platform::Rect& frame, std::string label,
                                                  std::string_view image, std::string_view highlightedImage,
                                                  std::function<void()> onClose, const void* owner) {
    auto close = std::make_shared<platform::Button>(frame, platform::ButtonType::Custom);
    close->setAccessibilityLabel(std::move(label));
    close->setImage(platform::Image::named(image));
    close->setImage(platform::Image::named(highlightedImage), platform::ControlState::Highlighted);
    close->addAction([onClose = std::move(onClose)](platform::Control&) { onClose(); },
                     platform::ControlEvent::TouchUpInside, owner);
    return close;
}

} // namespace promo
