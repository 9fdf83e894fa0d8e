#pragma once
// TGLanternFileManager: the support files of the Tangent ad pages (the "Lantern" script
// library, style sheets and page wrappers). Their texts are generated into the client
// (getLanternDictionary) and written once into Library/Tangent/Lantern, from which the ad
// pages load them and the client reads them back. A file once written is never replaced.
//
// One shared instance per device home, created on first use on the main thread.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace tangent {

// File name -> text of every support file; "%@" marks a placeholder.
const std::map<std::string, std::string>& getLanternDictionary();

class TGLanternFileManager {
public:
    static TGLanternFileManager& instance();
    static void resetForTesting();

    std::optional<std::string> fileContentsAsString(std::string_view fileName) const;
    // The property-list dictionary of the file; nullopt when it cannot be read as one.
    std::optional<platform::Dictionary> fileContentsAsDictionary(std::string_view fileName) const;
    // The file's text with its placeholders filled in order; nullopt when the file cannot be
    // read or its placeholder count differs from `values`.
    std::optional<std::string> fillFile(std::string_view fileName, const std::vector<std::string>& values) const;
    bool writeStringToFile(std::string_view text, std::string_view fileName, bool replaceExisting) const;

    const std::optional<std::filesystem::path>& lanternLibDirectory() const { return lanternLibDirectory_; }
    std::optional<platform::URL> uiWebViewBaseUrl() const;
    // The device identifier that the pages receive.
    std::string deviceId() const;

private:
    TGLanternFileManager();
    std::optional<std::filesystem::path> lanternLibDirectory_;
    std::filesystem::path home_;
};

} // namespace tangent
