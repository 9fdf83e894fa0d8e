#pragma once
// Shared by the media tests: the bundle's sample media, a fixture with the manual clock, a
// fresh application and a temporary device home, and a log of one player's notifications.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MoviePlayerController.h"
#include "platform/ui/UiTestSupport.h"

namespace mediatest {

inline std::filesystem::path sampleMedia(std::string_view name) {
    auto path = platform::Bundle::main().pathForResource(name);
    if (!path)
        throw std::runtime_error("the sample media " + std::string(name) + " is not in the bundle");
    return *path;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Every movie notification of one player, with what the player reported at that moment.
class MovieLog {
public:
    struct Entry {
        std::string name;
        platform::MoviePlaybackState state;
        double time;
        std::optional<std::int64_t> reason;
        std::optional<platform::Error> error;
    };

    explicit MovieLog(const std::shared_ptr<platform::MoviePlayerController>& player) {
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            "",
            [this](const platform::Notification& n) {
                auto player = n.objectAs<platform::MoviePlayerController>();
                if (!player)
                    return;
                Entry entry{n.name, player->playbackState(), player->currentPlaybackTime(), std::nullopt,
                            platform::movieErrorFromUserInfo(n.userInfo)};
                if (auto r = n.userInfo.find(platform::MPMoviePlayerPlaybackDidFinishReasonUserInfoKey);
                    r != n.userInfo.end())
                    entry.reason = r->second.integer();
                entries.push_back(std::move(entry));
            },
            player.get());
    }
    ~MovieLog() { platform::NotificationCenter::defaultCenter().removeObserver(token_); }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : entries)
            out.push_back(e.name);
        return out;
    }
    void clear() { entries.clear(); }

    std::vector<Entry> entries;

private:
    platform::NotificationCenter::ObserverToken token_;
};

class MediaTest : public uitest::UiTest {};

} // namespace mediatest
