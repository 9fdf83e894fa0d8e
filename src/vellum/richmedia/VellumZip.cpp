// Unpacking of ad and close-button bundles through the shared zip unpacker: only the bundle's
// own folder is unpacked, staged and moved into place whole; the packing tool's metadata
// folder "__MACOSX" is never unpacked nor left in the cache.
#include <filesystem>
#include <string>

#include "archive/ZipUnpacker.h"
#include "platform/foundation/DeviceHome.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

constexpr std::string_view kMacMetadataFolder = "__MACOSX";

bool isMacMetadata(std::string_view name) {
    return name.substr(0, kMacMetadataFolder.size()) == kMacMetadataFolder &&
           (name.size() == kMacMetadataFolder.size() || name[kMacMetadataFolder.size()] == '/');
}

} // namespace

bool VellumAdServer::expandZipFileAtPath(const std::string& archive, const std::string& destination,
                                         const std::string& folder, const VellumZipLimits& limits) {
    // Bundles are unpacked only into a real cache folder of the app's, never through a link.
    if (!platform::DeviceHome::makeOwnFolder(destination)) {
        VellumAnalyticsManager::sharedInstance()->logInternal("bundle unpacking: no cache folder at %s",
                                                              destination.c_str());
        return false;
    }
    const auto result = archive::unpackZipFolder(archive, destination, folder, limits, isMacMetadata);
    if (!result.ok)
        VellumAnalyticsManager::sharedInstance()->logInternal("bundle unpacking: %s", result.error.c_str());
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(destination) / kMacMetadataFolder, ec);
    return result.ok;
}

} // namespace vellum
