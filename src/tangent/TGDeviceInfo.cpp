#include "tangent/TGDeviceInfo.h"

#include <sys/utsname.h>

#include <array>
#include <charconv>
#include <memory>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/ui/Device.h"

namespace tangent {

namespace {

constexpr int kNewerGeneration = 10;

struct GenerationRow {
    std::string_view version;
    int generation;
};
// Searched in this order; the first row that matches gives the generation.
constexpr std::array<GenerationRow, 10> kGenerations = {{
    {"4.3", 9},
    {"4.2", 8},
    {"4.1", 7},
    {"4.0", 6},
    {"3.2", 5},
    {"3.1.3", 4},
    {"3.1.2", 3},
    {"3.1", 2},
    {"3.0", 1},
    {"2.2.1", 0},
}};

struct ModelRow {
    std::string_view platform;
    std::string_view model;
};
constexpr std::array<ModelRow, 7> kModels = {{
    {"iPhone1,1", "iPhoneV1"},
    {"iPhone1,2", "iPhone3G"},
    {"iPhone2,1", "iPhone3CB"},
    {"iPad1,1", "iPad"},
    {"iPod1,1", "iPodTouch"},
    {"iPod2,1", "iPodTouch2G"},
    {"i386", "iPhoneSimulator"},
}};

struct PrefixRow {
    std::string_view platformPrefix;
    std::string_view text;
};
constexpr std::array<PrefixRow, 4> kUserAgentPrefixes = {{
    {"iPad", "Mozilla/5.0 (iPad; U; CPU "},
    {"iPhone", "Mozilla/5.0 (iPhone; U; CPU iPhone "},
    {"iPod", "Mozilla/5.0 (iPod; U; CPU iPhone "},
    {"i386", "Mozilla/5.0 (iPod; U; CPU iPhone "},
}};

// Third part of the User-Agent, indexed by generation number.
constexpr std::array<std::string_view, 11> kUserAgentEngines = {
    "AppleWebKit/525.18.1 (KHTML, like Gecko) Version/3.1.1 Mobile/5H11 Safari/525.20",
    "AppleWebKit/528.18 (KHTML, like Gecko) Version/4.0 Mobile/7A341 Safari/528.16",
    "AppleWebKit/528.18 (KHTML, like Gecko) Version/4.0 Mobile/7C144 Safari/528.16",
    "AppleWebKit/528.18 (KHTML, like Gecko) Version/4.0 Mobile/7D11 Safari/528.16",
    "AppleWebKit/528.18 (KHTML, like Gecko) Version/4.0 Mobile/7E18 Safari/528.16",
    "AppleWebKit/531.21.10 (KHTML, like Gecko) Version/4.04 Mobile/7B320c Safari/531.21.10",
    "AppleWebKit/532.9 (KHTML, like Gecko) Version/4.0.4 Mobile/8A260b Safari/531.21.10",
    "AppleWebKit/532.9 (KHTML, like Gecko) Version/4.0.5 Mobile/8B117 Safari/6531.22.7",
    "AppleWebKit/533.17.9 (KHTML, like Gecko) Version/5.0.2 Mobile/8C99 Safari/6533.18.5",
    "AppleWebKit/533.17.9 (KHTML, like Gecko) Version/5.0.2 Mobile/8C99 Safari/6533.18.5",
    "AppleWebKit/X.X (KHTML, like Gecko) Version/X.X Mobile/XXXX Safari/X.X",
};

constexpr std::string_view kWiFiInterface = "en0";

// The numeric components of a version text ("4.3.1" -> 4, 3, 1); nullopt when a component is
// not a plain number, so that "10.4.3" never reads as "4.3".
std::optional<std::vector<int>> versionComponents(std::string_view text) {
    std::vector<int> parts;
    for (const auto& piece : platform::split(text, ".")) {
        int value = 0;
        auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (piece.empty() || error != std::errc() || end != piece.data() + piece.size())
            return std::nullopt;
        parts.push_back(value);
    }
    return parts;
}

std::unique_ptr<TGDeviceInfo>& sharedSlot() {
    static std::unique_ptr<TGDeviceInfo> shared;
    return shared;
}

std::optional<std::string> infoString(std::string_view key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (value && value->string())
        return *value->string();
    return std::nullopt;
}

std::string machineName() {
    utsname name{};
    if (uname(&name) != 0)
        return {};
    return name.machine;
}

} // namespace

TGDeviceInfo& TGDeviceInfo::instance() {
    auto& shared = sharedSlot();
    if (!shared)
        shared.reset(new TGDeviceInfo());
    return *shared;
}

void TGDeviceInfo::resetForTesting() {
    sharedSlot().reset();
}

int TGDeviceInfo::systemGenerationFor(std::string_view systemVersion) {
    auto version = versionComponents(systemVersion);
    if (!version)
        return kNewerGeneration;
    for (const auto& row : kGenerations) {
        auto wanted = versionComponents(row.version);
        if (wanted && wanted->size() <= version->size() &&
            std::equal(wanted->begin(), wanted->end(), version->begin()))
            return row.generation;
    }
    return kNewerGeneration;
}

std::string TGDeviceInfo::modelForPlatform(std::string_view platform) {
    for (const auto& row : kModels)
        if (row.platform == platform)
            return std::string(row.model);
    return std::string(platform);
}

std::string TGDeviceInfo::userAgentFor(std::string_view platform, std::string_view deviceModel,
                                       std::string_view systemVersion, int generation) {
    std::string text;
    for (const auto& row : kUserAgentPrefixes)
        if (platform.starts_with(row.platformPrefix)) {
            text = row.text;
            break;
        }
    if (text.empty())
        text = "Mozilla/5.0 (" + std::string(deviceModel) + "; U; CPU ";
    text += "OS " + platform::replaceAll(systemVersion, ".", "_") + " like Mac OS X; en-us) ";
    if (generation < 0 || generation >= static_cast<int>(kUserAgentEngines.size()))
        generation = kNewerGeneration;
    text += kUserAgentEngines[static_cast<std::size_t>(generation)];
    return text;
}

std::optional<std::string> TGDeviceInfo::interfaceAddress(std::string_view interfaceName) {
    auto interfaces = platform::SystemFacts::networkInterfaces();
    if (!interfaces)
        return std::nullopt;
    for (const auto& entry : *interfaces)
        if (entry.name == interfaceName && entry.family == platform::NetworkInterface::Family::IPv4)
            return entry.address;
    return std::nullopt;
}

TGDeviceInfo::TGDeviceInfo() {
    auto& device = platform::Device::current();
    tgSystemVersion = systemGenerationFor(device.systemVersion());
    platform = machineName();
    model = modelForPlatform(platform);
    userAgent = userAgentFor(platform, device.model(), device.systemVersion(), tgSystemVersion);
    deviceId = device.uniqueIdentifier();
    if (auto languages = platform::UserDefaults::standard().stringArrayForKey("AppleLanguages");
        languages && !languages->empty())
        language = languages->front();
    clientIp = interfaceAddress(kWiFiInterface);
    systemName = device.systemName();
    systemVersion = device.systemVersion();
    applicationName = infoString("CFBundleIdentifier");
    applicationVersion = infoString("CFBundleVersion");
    idiom = std::to_string(static_cast<int>(device.userInterfaceIdiom()));
}

} // namespace tangent
