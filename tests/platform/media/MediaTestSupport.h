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

// The folder of the bundle's sample media, for the players and readers that read them.
inline platform::ReadableFolder sampleFolder() {
    return platform::ReadableFolder(sampleMedia("sample-tone.wav").parent_path());
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

namespace mediatest {

// A 16-bit PCM WAV file of `frames` frames of `channels` channels, each sample `value`.
inline void writeWav(const std::filesystem::path& path, std::uint32_t frames, std::uint16_t channels,
                     std::uint32_t sampleRate, std::int16_t value) {
    std::string bytes;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes += char((v >> (8 * i)) & 0xff);
    };
    auto put16 = [&](std::uint16_t v) {
        bytes += char(v & 0xff);
        bytes += char(v >> 8);
    };
    std::uint32_t dataBytes = frames * channels * 2;
    bytes += "RIFF";
    put32(36 + dataBytes);
    bytes += "WAVEfmt ";
    put32(16);
    put16(1); // PCM
    put16(channels);
    put32(sampleRate);
    put32(sampleRate * channels * 2);
    put16(std::uint16_t(channels * 2));
    put16(16);
    bytes += "data";
    put32(dataBytes);
    for (std::uint32_t i = 0; i < frames * channels; ++i)
        put16(std::uint16_t(value));
    writeFile(path, bytes);
}

} // namespace mediatest
