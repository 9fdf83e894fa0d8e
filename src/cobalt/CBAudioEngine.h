#pragma once
// The process-wide sound player of the Cobalt ads: any number of sound effects at once and at
// most one background music track, each from a sound file, with a master volume and one
// volume per kind. It follows the platform's audio session: while another application plays
// audio, music stays silent (effects still play, mixed with it).
//
// One shared engine or none: startup() creates it (and follows the application going inactive
// and active again: suspend and resume), teardown() stops everything and forgets it. Sounds
// are cached by name (here always a full path) with their prepared player; a file that cannot
// be read leaves an entry without a player, so plays of that name do nothing.
//
// Loop counts follow the platform player: 0 plays once, n repeats n more times, a negative
// count repeats until stopped. Resuming restarts the current track and plays it once more
// 2.0 s later (the fail-safe), unless the engine was suspended or torn down meanwhile.
//
// Ownership: the engine holds its players; the shared slot holds the engine. Main thread only:
// commands come from the display pages' bridges, notifications and the fail-safe from the
// main run loop. After teardown nothing the engine scheduled runs.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
class AudioPlayer;
} // namespace platform

namespace cobalt {

class CBAudioEngine : public std::enable_shared_from_this<CBAudioEngine> {
public:
    static constexpr std::size_t kAudioCacheCapacity = 64;
    static constexpr double kResumeFailsafeDelay = 2.0;
    static constexpr int kRepeatUntilStopped = -1;

    // One cached sound: its file path, its name and its prepared player (null when the file
    // could not be read).
    struct Entry {
        std::string path;
        std::string name;
        std::shared_ptr<platform::AudioPlayer> player;
    };

    static void startup();
    static void teardown();
    static std::shared_ptr<CBAudioEngine> sharedAudioEngine();

    CBAudioEngine();
    ~CBAudioEngine();
    CBAudioEngine(const CBAudioEngine&) = delete;
    CBAudioEngine& operator=(const CBAudioEngine&) = delete;

    void updateSession();

    // An empty name stands for none: nothing happens and plays answer false.
    void preloadAudioNamed(const std::string& name);
    void releaseAudioNamed(const std::string& name);
    void releaseAll();

    bool playSoundEffectNamed(const std::string& name) { return playSoundEffectNamed(name, 0, 1.0f); }
    bool playSoundEffectNamed(const std::string& name, int loopCount) {
        return playSoundEffectNamed(name, loopCount, 1.0f);
    }
    bool playSoundEffectNamed(const std::string& name, int loopCount, float volume);
    bool stopSoundEffectNamed(const std::string& name);
    bool stopSoundEffects();

    bool playBackgroundMusicNamed(const std::string& name) {
        return playBackgroundMusicNamed(name, kRepeatUntilStopped, 1.0f);
    }
    bool playBackgroundMusicNamed(const std::string& name, int loopCount) {
        return playBackgroundMusicNamed(name, loopCount, 1.0f);
    }
    bool playBackgroundMusicNamed(const std::string& name, int loopCount, float volume);
    bool stopBackgroundMusic();

    void setMasterVolume(float volume);
    void setBackgroundMusicVolume(float volume);
    void setSoundEffectVolume(float volume);
    float masterVolume() const { return masterVolume_; }
    float backgroundMusicVolume() const { return backgroundMusicVolume_; }
    float soundEffectVolume() const { return soundEffectVolume_; }

    void setSoundEnabled(bool enabled);
    void setMusicEnabled(bool enabled);
    bool isSoundEnabled() const { return soundEnabled_; }
    bool isMusicEnabled() const { return musicEnabled_; }
    bool isMediaPlaying() const { return isMediaPlaying_; }
    bool isSuspended() const { return suspended_; }

    void suspend();
    void resume();

    // What plays: the cached entries, the current track and the effects started and not stopped.
    const std::unordered_map<std::string, Entry>& audioCache() const { return audioCache_; }
    const std::shared_ptr<platform::AudioPlayer>& currentBackgroundMusic() const {
        return currentBackgroundMusic_;
    }
    const std::vector<std::shared_ptr<platform::AudioPlayer>>& currentSoundEffects() const {
        return currentSoundEffects_;
    }

private:
    // The application's activity notifications.
    void applicationWillResignActive() { suspend(); }
    void applicationDidBecomeActive() { resume(); }
    void resumeFailsafe();
    void cancelResumeFailsafe();
    // The cached player of a name, preloading it first; null when the file has none.
    std::shared_ptr<platform::AudioPlayer> playerNamed(const std::string& name);
    void stopAll();

    std::unordered_map<std::string, Entry> audioCache_;
    std::shared_ptr<platform::AudioPlayer> currentBackgroundMusic_;
    // A set of players: each at most once, in the order they started.
    std::vector<std::shared_ptr<platform::AudioPlayer>> currentSoundEffects_;
    bool soundEnabled_ = true;
    bool musicEnabled_ = true;
    float masterVolume_ = 1.0f;
    float backgroundMusicVolume_ = 1.0f;
    float soundEffectVolume_ = 1.0f;
    bool isMediaPlaying_ = false;
    bool suspended_ = false;
};

} // namespace cobalt
