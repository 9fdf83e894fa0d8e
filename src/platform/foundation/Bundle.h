#pragma once
// The main application bundle: its information dictionary and its resources by name.
// Resources live in one folder: FW_BUNDLE_DIR from the environment, else the "Resources"
// folder beside the executable, else the one set with setResourceDirectory (tests).
// The information dictionary is read from "Info.plist" in that folder when present, and
// can be changed at run time, as some clients write settings into it before starting.
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform {

class Bundle {
public:
    static Bundle& main();
    // Drops the information dictionary and resource folder of the main bundle.
    static void resetForTesting();

    void setResourceDirectory(std::filesystem::path dir);
    std::filesystem::path resourceDirectory() const;

    // Path of the resource `name` (a single file name, with or without `type` as extension),
    // or nullopt when there is no such file. Names with a path separator or ".." are refused.
    std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view type = {}) const;

    Dictionary infoDictionary() const;
    std::optional<Value> objectForInfoDictionaryKey(std::string_view key) const;
    void setInfoDictionaryValue(std::string_view key, Value value);
    void setInfoDictionary(Dictionary info);

private:
    void loadInfoLocked() const;
    mutable std::mutex mutex_;
    std::filesystem::path resources_;
    mutable std::optional<Dictionary> info_;
};

} // namespace platform
