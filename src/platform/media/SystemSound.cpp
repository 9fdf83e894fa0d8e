#include "platform/media/SystemSound.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "platform/foundation/Log.h"

namespace platform {
namespace {

// A long session keeps only the latest requests.
constexpr std::size_t kMaximumRecorded = 1024;

std::mutex gMutex;
std::vector<SystemSoundID> gPlayed;

} // namespace

void AudioServicesPlaySystemSound(SystemSoundID sound) {
    {
        std::lock_guard lock(gMutex);
        if (gPlayed.size() == kMaximumRecorded)
            gPlayed.erase(gPlayed.begin());
        gPlayed.push_back(sound);
    }
    logLine(sound == kSystemSoundIDVibrate ? std::string("System sound: vibrate")
                                           : "System sound: " + std::to_string(sound));
}

std::vector<SystemSoundID> playedSystemSounds() {
    std::lock_guard lock(gMutex);
    return gPlayed;
}

std::size_t vibrationCount() {
    std::lock_guard lock(gMutex);
    return std::size_t(std::count(gPlayed.begin(), gPlayed.end(), kSystemSoundIDVibrate));
}

void resetSystemSoundsForTesting() {
    std::lock_guard lock(gMutex);
    gPlayed.clear();
}

} // namespace platform
