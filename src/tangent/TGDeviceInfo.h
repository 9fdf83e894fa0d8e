#pragma once
// TGDeviceInfo: the device and application facts that the Tangent client sends with its ad
// requests, event reports and redirects, computed once at first use and never changed
// afterwards (the client IP in particular is the one found then). Also the platform
// generation number that display code consults and the browser-like User-Agent text.
//
// One shared instance for the process, created lazily on the main thread; tests rebuild it
// with resetForTesting() after changing the device profile.
#include <optional>
#include <string>
#include <string_view>

namespace tangent {

class TGDeviceInfo {
public:
    static TGDeviceInfo& instance();
    static void resetForTesting();

    // Generation number for a system version text: the first table row whose version equals
    // the leading numeric components of `systemVersion`; 10 (newer or unknown) otherwise.
    static int systemGenerationFor(std::string_view systemVersion);
    // The model table; an unmapped platform text is answered unchanged.
    static std::string modelForPlatform(std::string_view platform);
    // The three-part User-Agent text.
    static std::string userAgentFor(std::string_view platform, std::string_view deviceModel,
                                    std::string_view systemVersion, int generation);
    // Dotted IPv4 address of the first entry named `interfaceName` in the platform's interface
    // list; nullopt when there is none or the list cannot be read.
    static std::optional<std::string> interfaceAddress(std::string_view interfaceName);

    int tgSystemVersion = 10;
    std::string model;
    std::string platform;
    std::string userAgent;
    std::string deviceId;
    std::optional<std::string> language;
    std::optional<std::string> clientIp;
    std::string systemName;
    std::string systemVersion;
    std::optional<std::string> applicationName;
    std::optional<std::string> applicationVersion;
    std::string idiom;

private:
    TGDeviceInfo();
};

} // namespace tangent
