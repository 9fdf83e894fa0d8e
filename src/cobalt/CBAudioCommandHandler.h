#pragma once
// "BridgeAudio": the display page's commands to the shared CBAudioEngine. The page first
// names its ad (initializeWithSlotNameDlTime), which fixes the ad's folder,
// Documents/CB/Content/<slot name>/<download time>, and starts the engine. Sound names are
// file names inside that folder: with "." and ".." applied and through existing links they
// must stay in it, or the command is refused (logged). Before the engine starts, or after it
// is torn down, every command does nothing. No command answers the page.
//
// Owned by its ad view's bridge; main thread only.
#include <optional>
#include <string>

#include "cobalt/CBCommandHandler.h"

namespace cobalt {

class CBAudioCommandHandler : public CBCommandHandler {
public:
    static constexpr const char* kName = "BridgeAudio";

    CBAudioCommandHandler();

    // The ad's folder; empty until the page names its ad.
    const std::string& resourcePath() const { return resourcePath_; }
    // The full path of a sound file of the ad, or nullopt when the name would leave the ad's
    // folder (or no ad is named yet).
    std::optional<std::string> pathForFileName(const std::string& name) const;

private:
    void initializeWithSlotName(const std::string& slotName, const std::string& dlTime);
    std::string resourcePath_;
};

} // namespace cobalt
