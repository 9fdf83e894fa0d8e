#pragma once
// The application's audio session: how its sound mixes with other applications' (the
// category), whether it is active, the current output route, whether another application
// is playing, and the interruption notice (a call coming in, for instance).
//
// The session is initialised once per process (initialize answers
// kAudioSessionAlreadyInitialized afterwards, which callers may take as success); activation
// and properties need it initialised first. Properties go by four-character codes: the
// category (acat, a uint32 code such as ambi or solo), "other audio is playing" (othr, a
// uint32, read only) and the route (rout, its name as text, read only).
//
// This machine plays no sound, so what the outside world would decide is set by tests and the
// runner: whether another application plays (setOtherAudioIsPlaying), the route's name
// (setAudioRoute, "Speaker" at first) and interruptions (beginInterruption, endInterruption),
// which reach the interruption listener on the main run loop and deactivate the session while
// they last. Each interruption's begin and end are also posted at once on the default
// notification centre as kAudioSessionInterruptionNotification, which the players observe:
// a playing movie becomes interrupted and a playing sound pauses. Process-wide (shared());
// resetForTesting() starts over. Main thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/media/AudioTypes.h"

namespace platform {

using AudioSessionPropertyID = std::uint32_t;

inline constexpr AudioSessionPropertyID kAudioSessionPropertyAudioCategory = fourCharCode("acat");
inline constexpr AudioSessionPropertyID kAudioSessionPropertyOtherAudioIsPlaying = fourCharCode("othr");
inline constexpr AudioSessionPropertyID kAudioSessionPropertyAudioRoute = fourCharCode("rout");

// Categories.
inline constexpr std::uint32_t kAudioSessionCategoryAmbientSound = fourCharCode("ambi");
inline constexpr std::uint32_t kAudioSessionCategorySoloAmbientSound = fourCharCode("solo");
inline constexpr std::uint32_t kAudioSessionCategoryMediaPlayback = fourCharCode("medi");
inline constexpr std::uint32_t kAudioSessionCategoryRecordAudio = fourCharCode("reca");
inline constexpr std::uint32_t kAudioSessionCategoryPlayAndRecord = fourCharCode("plar");

// Interruption states given to the listener.
inline constexpr std::uint32_t kAudioSessionEndInterruption = 0;
inline constexpr std::uint32_t kAudioSessionBeginInterruption = 1;

// Posted at the begin and the end of an interruption, with the state (an integer) under
// kAudioSessionInterruptionStateKey.
inline constexpr const char* kAudioSessionInterruptionNotification = "AudioSessionInterruptionNotification";
inline constexpr const char* kAudioSessionInterruptionStateKey = "state";

// Errors.
inline constexpr OSStatus kAudioSessionNotInitialized = OSStatus(fourCharCode("!ini"));
inline constexpr OSStatus kAudioSessionAlreadyInitialized = OSStatus(fourCharCode("init"));
inline constexpr OSStatus kAudioSessionUnsupportedPropertyError = OSStatus(fourCharCode("pty?"));
inline constexpr OSStatus kAudioSessionBadPropertySizeError = OSStatus(fourCharCode("!siz"));
inline constexpr OSStatus kAudioSessionIncompatibleCategory = OSStatus(fourCharCode("!cat"));

class AudioSession {
public:
    using InterruptionListener = std::function<void(std::uint32_t interruptionState)>;

    static AudioSession& shared();
    static void resetForTesting();

    // Initialises the session with an optional interruption listener.
    OSStatus initialize(InterruptionListener listener = {});
    bool isInitialized() const { return initialized_; }

    OSStatus setActive(bool active);
    bool isActive() const { return active_; }

    // acat or othr.
    OSStatus getProperty(AudioSessionPropertyID property, std::uint32_t* outValue) const;
    // rout.
    OSStatus getProperty(AudioSessionPropertyID property, std::string* outValue) const;
    // acat only; an unknown category is refused.
    OSStatus setProperty(AudioSessionPropertyID property, std::uint32_t value);

    // The current category (solo ambient until set).
    std::uint32_t category() const { return category_; }

    // ---- The outside world, set by tests and the runner ----
    void setOtherAudioIsPlaying(bool playing) { otherAudioIsPlaying_ = playing; }
    // An empty name stands for a route without a name.
    void setAudioRoute(std::string route) { route_ = std::move(route); }
    void beginInterruption();
    void endInterruption();

private:
    void tellListener(std::uint32_t state);

    bool initialized_ = false;
    bool active_ = false;
    std::uint32_t category_ = kAudioSessionCategorySoloAmbientSound;
    bool otherAudioIsPlaying_ = false;
    std::string route_ = "Speaker";
    InterruptionListener listener_;
    bool interrupted_ = false;
};

} // namespace platform
