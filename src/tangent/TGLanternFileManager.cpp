#include "tangent/TGLanternFileManager.h"

#include <memory>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "tangent/TGCategories.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGLanternTexts.h"
#include "tangent/TGLog.h"

namespace tangent {

namespace {

constexpr std::uint64_t kMaximumSupportFileBytes = 1024 * 1024;

std::unique_ptr<TGLanternFileManager>& sharedSlot() {
    static std::unique_ptr<TGLanternFileManager> shared;
    return shared;
}

} // namespace

const std::map<std::string, std::string>& getLanternDictionary() {
    static const std::map<std::string, std::string> files = {
        {"tgadlantern.js", std::string(kLanternScript)},
        {"tgadlantern.css", std::string(kLanternStyle)},
        {"tgadlantern-banner.css", std::string(kLanternBannerStyle)},
        {"tgadlantern-interstitial.css", std::string(kLanternInterstitialStyle)},
        {"wlantern-banner.html", std::string(kBannerPage)},
        {"wlantern-interstitial.html", std::string(kInterstitialPage)},
        {"applicationsupport.xml", std::string(kApplicationSupport)},
        {"youtube.html", std::string(kYoutubePage)},
    };
    return files;
}

TGLanternFileManager& TGLanternFileManager::instance() {
    auto& shared = sharedSlot();
    // A new device home (tests, `--home`) gets its own folder.
    if (!shared || shared->home_ != platform::DeviceHome::root())
        shared.reset(new TGLanternFileManager());
    return *shared;
}

void TGLanternFileManager::resetForTesting() {
    sharedSlot().reset();
}

TGLanternFileManager::TGLanternFileManager() : home_(platform::DeviceHome::root()) {
    const auto tangentDir = platform::DeviceHome::library() / "Tangent";
    // Both folders are the app's own only as real folders: a link or a file at either name is
    // left alone, and the library runs without its script files.
    if (!platform::DeviceHome::makeOwnFolder(tangentDir)) {
        TGLog::log("Failed to create TangentDir: not a folder of the app's own");
        return;
    }
    const auto lanternDir = tangentDir / "Lantern";
    if (!platform::DeviceHome::makeOwnFolder(lanternDir)) {
        TGLog::log("Failed to create LanternLibDirectory: not a folder of the app's own");
        return;
    }
    lanternLibDirectory_ = lanternDir;
    TGLog::log("LanternLibDirectory: " + lanternDir.string());
    for (const auto& [name, text] : getLanternDictionary())
        writeStringToFile(text, name, false);
}

std::optional<platform::URL> TGLanternFileManager::uiWebViewBaseUrl() const {
    if (!lanternLibDirectory_)
        return std::nullopt;
    return platform::URL::fileURL(*lanternLibDirectory_ / "");
}

std::string TGLanternFileManager::deviceId() const {
    return TGDeviceInfo::instance().deviceId;
}

bool TGLanternFileManager::writeStringToFile(std::string_view text, std::string_view fileName,
                                             bool replaceExisting) const {
    if (!lanternLibDirectory_)
        return false;
    auto path = platform::FileManager::pathInside(*lanternLibDirectory_, fileName);
    if (!path)
        return false;
    const std::string name(fileName);
    if (platform::FileManager::fileExists(*path)) {
        if (!replaceExisting) {
            TGLog::log("Lantern file[" + name + "] already exists");
            return true;
        }
        platform::Error error;
        if (!platform::FileManager::removeItem(*path, &error)) {
            TGLog::log("Lantern file[" + name + "] exists and remove failed with error:\n" +
                              error.localizedDescription);
            return false;
        }
    }
    platform::Error error;
    if (!platform::FileManager::writeAtomically(*path, text, &error)) {
        TGLog::log("Lantern file[" + name + "] write failed with error:\n" + error.localizedDescription);
        return false;
    }
    TGLog::log("Lantern file[" + name + "] written");
    return true;
}

std::optional<std::string> TGLanternFileManager::fileContentsAsString(std::string_view fileName) const {
    if (!lanternLibDirectory_)
        return std::nullopt;
    auto path = platform::FileManager::pathInside(*lanternLibDirectory_, fileName);
    if (!path)
        return std::nullopt;
    return platform::FileManager::stringWithContentsOfFile(*path, kMaximumSupportFileBytes);
}

std::optional<platform::Dictionary> TGLanternFileManager::fileContentsAsDictionary(std::string_view fileName) const {
    auto text = fileContentsAsString(fileName);
    if (!text)
        return std::nullopt;
    auto value = platform::Value::fromPropertyList(*text);
    if (!value || !value->dictionary())
        return std::nullopt;
    return *value->dictionary();
}

std::optional<std::string> TGLanternFileManager::fillFile(std::string_view fileName,
                                                          const std::vector<std::string>& values) const {
    auto text = fileContentsAsString(fileName);
    if (!text)
        return std::nullopt;
    auto filled = fillPlaceholders(*text, values);
    if (!filled)
        TGLog::log("Lantern file[" + std::string(fileName) + "] does not have the expected placeholders");
    return filled;
}

} // namespace tangent
