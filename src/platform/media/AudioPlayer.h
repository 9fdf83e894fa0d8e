#pragma once
// A player of one sound file: prepare, play, pause, stop, volume, loops and the current time,
// with a delegate told when playback ends. The file is opened read-only and decoded by the
// audio-file layer (AudioFile.h) when the player is made, which reads its length; a file that
// cannot be decoded makes no player. Nothing is heard on this machine: playback keeps time on
// the run loop's clock (a manual clock drives it in tests), so a sound ends, loops and
// reports its end exactly when it would.
//
// Loops: numberOfLoops 0 plays once, n plays n more times, a negative number repeats until
// stopped. At the natural end the player stops playing, its time goes back to 0 and the
// delegate's audioPlayerDidFinishPlaying comes with successfully = true. stop() and pause()
// keep the current time and tell the delegate nothing. An audio-session interruption pauses a
// playing sound; play() goes on afterwards.
//
// Ownership and threads: the caller owns the player (create() answers a shared pointer); the
// delegate is held weakly; the end timer holds the player weakly, so a player that is let go
// stops and reports nothing more. Main thread only (the run loop that made it).
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"

namespace platform {

class AudioPlayer;
class RunLoop;
class Timer;

class AudioPlayerDelegate {
public:
    virtual ~AudioPlayerDelegate() = default;
    virtual void audioPlayerDidFinishPlaying(AudioPlayer& player, bool successfully) {
        (void)player;
        (void)successfully;
    }
};

class AudioPlayer : public std::enable_shared_from_this<AudioPlayer> {
public:
    // The audio-file error domain, for players that cannot be made.
    static constexpr const char* kErrorDomain = "AudioPlayerErrorDomain";

    // A player for the sound file at a file URL inside `readable` (ReadableFolder.h); nullptr
    // (and the error) when the file is missing, unreadable, outside `readable` or no sound.
    static std::shared_ptr<AudioPlayer> create(const URL& url, const ReadableFolder& readable,
                                               Error* error = nullptr);
    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    const URL& url() const { return url_; }
    double duration() const { return duration_; }

    void setDelegate(std::weak_ptr<AudioPlayerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Answers whether the player is ready to play (always, once made).
    bool prepareToPlay();
    // Starts or resumes playback from the current time; answers whether it plays.
    bool play();
    void pause();
    void stop();
    bool isPlaying() const { return playing_; }

    double currentTime() const;
    // Moves to `seconds` (clamped to the sound).
    void setCurrentTime(double seconds);
    float volume() const { return volume_; }
    // Clamped to 0..1.
    void setVolume(float volume);
    int numberOfLoops() const { return numberOfLoops_; }
    void setNumberOfLoops(int loops) {
        numberOfLoops_ = loops;
        loopsPlayed_ = 0;
    }

private:
    AudioPlayer(URL url, double duration) : url_(std::move(url)), duration_(duration) {}
    void scheduleEnd();
    void cancelEnd();
    void reachedEnd();

    URL url_;
    double duration_;
    RunLoop* loop_ = nullptr;
    std::weak_ptr<AudioPlayerDelegate> delegate_;
    bool playing_ = false;
    bool prepared_ = false;
    double position_ = 0;     // the time when not playing, or when playing began
    double playingSince_ = 0; // monotonic reading when playing began
    float volume_ = 1.0f;
    int numberOfLoops_ = 0;
    int loopsPlayed_ = 0;
    std::shared_ptr<Timer> endTimer_;
};

} // namespace platform
