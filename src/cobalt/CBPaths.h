#pragma once
// The engine's class-level values: where its store lives, the session start and the device
// texts it reports. The store folder layout:
//   Documents/CB/cobaltdb.sql                        the store (CBDatabase)
//   Documents/CB/Config                              client scripts (CBClientManager)
//   Documents/CB/Content/<slot name>/<download time> ad files (CBAdManager)
// and, for the time of an unpacking, Library/Caches/CB/temp.zip, in a folder of the engine's
// own outside the person's Documents. The engine writes and deletes nothing else: a file the
// person keeps in Documents (a "temp.zip" of their own, or a file named "CB") is never
// touched. Safe from any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cobalt {

class CBPaths {
public:
    // Milliseconds since 1970, taken once at the first call in the process.
    static std::int64_t sessionStart();
    static void setSessionStartForTesting(std::int64_t milliseconds);

    static std::string deviceUID();
    // "<model> - <system version>" with every blank removed ("Phone-6.1").
    static std::string deviceName();

    static std::filesystem::path localFileBasePath(); // Documents
    static std::string localFileBaseURL();            // its file URL text
    static std::filesystem::path cbBaseDir();         // Documents/CB
    static std::filesystem::path cbContentDir();      // Documents/CB/Content
    static std::filesystem::path cbCacheDir();        // Library/Caches/CB
    static std::filesystem::path transientZipPath();  // Library/Caches/CB/temp.zip
    // The name the scripts use for the transient zip file, as if it lay in Documents.
    static constexpr const char* kTransientZipName = "temp.zip";

    // A path a script names, relative to the Documents folder, when it resolves (with "."
    // and ".." applied, and through links that exist) to a place inside Documents/CB/Content,
    // the ads' files: the store file, the client scripts under Config and anything else in
    // Documents/CB (a person may keep files there too) are out of the scripts' reach. Content
    // and CB must be real folders (or not there yet): through a link at either name nothing
    // is reached. A path that resolves to Documents/temp.zip names the engine's own transient
    // zip file and answers transientZipPath(), so no script reaches a person's "temp.zip".
    // nullopt otherwise.
    static std::optional<std::filesystem::path> confinedScriptPath(std::string_view relative);
    // A folder a script names: inside Documents/CB/Content only. The transient zip file is
    // never a folder, so nothing can be made under it.
    static std::optional<std::filesystem::path> confinedScriptFolder(std::string_view relative);
};

} // namespace cobalt
