#include "platform/foundation/Services.h"

#include <cstdlib>
#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex& servicesMutex() {
    static std::mutex m;
    return m;
}

std::optional<std::string>& configured() {
    static std::optional<std::string> url;
    return url;
}

std::string withoutTrailingSlash(std::string url) {
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

} // namespace

std::string servicesBaseURL() {
    std::lock_guard lock(servicesMutex());
    if (configured())
        return *configured();
    const char* env = std::getenv("FW_SERVICES_URL");
    return env ? withoutTrailingSlash(env) : std::string();
}

void setServicesBaseURL(std::string url) {
    std::lock_guard lock(servicesMutex());
    configured() = withoutTrailingSlash(std::move(url));
}

std::string servicesHost() {
    std::string base = servicesBaseURL();
    auto scheme = base.find("://");
    if (scheme != std::string::npos)
        base.erase(0, scheme + 3);
    auto slash = base.find('/');
    if (slash != std::string::npos)
        base.erase(slash);
    return base;
}

} // namespace platform
