#pragma once
// A movie player: plays one movie from a file or from an http(s) address, in a view that the
// caller places on screen (embedded) or that covers the key window (full screen).
//
// Local files: the player reads a file: URL only inside the folder its owner granted it
// (see ReadableFolder.h), none by default; any other file fails to load with -1102
// (kURLErrorNoPermissionsToReadFile), whoever chose the URL.
//
// Loading: giving the player content (at creation or with setContentURL) starts loading on a
// later turn of the run loop that created the player. A file is opened read-only and its length
// and picture size are read from the real media (MovieInfo). A remote movie is first
// downloaded into the device's tmp folder, capped at maximumRemoteMovieLength() bytes; a
// status outside 200-299, a failed or over-long download is a load failure. When the movie
// can play, in this order: the load state becomes playable and playthrough-OK
// (MPMoviePlayerLoadStateDidChangeNotification), the player is prepared
// (MPMediaPlaybackIsPreparedToPlayDidChangeNotification), the preload has finished
// (MPMoviePlayerContentPreloadDidFinishNotification), and playback starts when play() was
// asked for or shouldAutoplay is set.
//
// Playback keeps time on the run loop's clock (a manual clock drives it in tests): the time
// moves while the state is playing, and when it reaches the duration the state becomes
// stopped and MPMoviePlayerPlaybackDidFinishNotification reports reason PlaybackEnded.
//
// An audio-session interruption (kAudioSessionInterruptionNotification) holds a playing movie:
// its state becomes interrupted and its time stands still; when the interruption ends it
// is paused, and play() goes on.
//
// Failure: a load that fails finishes playback with reason PlaybackError and the error in the
// user info ("error"): code -50 (kMoviePlayerErrorCannotPlay) for content that is no playable
// movie, -1100 for a missing file, -1102 for one that cannot be read or lies outside the
// player's readable folder, -1002 for an address
// that is neither file nor http(s), and the connection's error (or -1011 for an HTTP error
// status, -1103 for a download over the cap) for a remote movie. Then
// MPMoviePlayerContentPreloadDidFinishNotification follows with the same error.
//
// stop() while a movie is loading, playing or paused ends it: state stopped, time back to 0,
// and the finish notification with reason UserExited (the user left it); the movie stays
// loaded and can play again. Every notification goes to the default centre with the player as
// object; see MoviePlayerNotifications.h.
//
// Ownership and threads: the caller owns the player (create() answers a shared pointer);
// timers and the download hold it weakly. Main thread only (the run loop that created it).
// A player that is destroyed stops: its timer and download are cancelled, its view leaves the
// screen and it posts nothing more. A new content URL ends the previous movie silently.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/ReadableFolder.h"
#include "platform/foundation/URL.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/MoviePlayerNotifications.h"
#include "platform/ui/Geometry.h"

namespace platform {

class MoviePlayerView;
class RunLoop;
class Timer;
class URLConnection;
class Window;
class View;

// Bits of loadState().
struct MovieLoadState {
    static constexpr unsigned Unknown = 0;
    static constexpr unsigned Playable = 1u << 0;
    static constexpr unsigned PlaythroughOK = 1u << 1;
    static constexpr unsigned Stalled = 1u << 2;
};

enum class MoviePlaybackState {
    Stopped = 0,
    Playing = 1,
    Paused = 2,
    Interrupted = 3,
    SeekingForward = 4,
    SeekingBackward = 5,
};
const char* toString(MoviePlaybackState state);

enum class MovieControlStyle { None = 0, Embedded = 1, Fullscreen = 2, Default = Embedded };
// The control setting of players from before control styles: 2 hides every control.
enum class MovieControlMode { Default = 0, VolumeOnly = 1, Hidden = 2 };
enum class MovieScalingMode { None = 0, AspectFit = 1, AspectFill = 2, Fill = 3 };

class MoviePlayerController : public std::enable_shared_from_this<MoviePlayerController> {
public:
    // Remote movies larger than this are refused, unless the cap is changed.
    static constexpr std::int64_t kMaximumRemoteMovieLength = 64 * 1024 * 1024;
    // Seconds a full-screen change takes when animated.
    static constexpr double kFullscreenAnimationDuration = 0.3;

    // A player for `contentURL` (none: a player without content, which never loads) that may
    // read files inside `readable` only (none by default).
    static std::shared_ptr<MoviePlayerController> create(std::optional<URL> contentURL,
                                                         ReadableFolder readable = {});
    ~MoviePlayerController();
    MoviePlayerController(const MoviePlayerController&) = delete;
    MoviePlayerController& operator=(const MoviePlayerController&) = delete;

    const std::optional<URL>& contentURL() const { return contentURL_; }
    const ReadableFolder& readableFolder() const { return readable_; }
    // Ends the current movie without notifications and loads the new content.
    void setContentURL(std::optional<URL> url);

    // The view that shows the movie; the caller places it.
    std::shared_ptr<MoviePlayerView> view();

    // ---- Loading ----
    unsigned loadState() const { return loadState_; }
    bool isPreparedToPlay() const { return prepared_; }
    // Starts loading now when it has not started yet.
    void prepareToPlay();
    // Known once loaded; 0 before.
    double duration() const { return info_ ? info_->duration : 0; }
    Size naturalSize() const { return info_ ? info_->naturalSize : Size{}; }
    // The error of the last failed load.
    const std::optional<Error>& loadError() const { return loadError_; }

    // ---- Playback ----
    MoviePlaybackState playbackState() const { return state_; }
    // Plays from the current time; before the movie is loaded, playback starts once it is.
    void play();
    void pause();
    // See the class comment.
    void stop();
    double currentPlaybackTime() const;
    // Moves to `seconds` (clamped to the movie); ignored before the movie is loaded.
    void setCurrentPlaybackTime(double seconds);
    // Where the next playback starts; negative: at the beginning.
    double initialPlaybackTime() const { return initialPlaybackTime_; }
    void setInitialPlaybackTime(double seconds) { initialPlaybackTime_ = seconds; }
    bool shouldAutoplay() const { return shouldAutoplay_; }
    void setShouldAutoplay(bool autoplay) { shouldAutoplay_ = autoplay; }

    // ---- Presentation ----
    MovieControlStyle controlStyle() const { return controlStyle_; }
    void setControlStyle(MovieControlStyle style) { controlStyle_ = style; }
    MovieControlMode movieControlMode() const { return controlMode_; }
    void setMovieControlMode(MovieControlMode mode) { controlMode_ = mode; }
    MovieScalingMode scalingMode() const { return scalingMode_; }
    void setScalingMode(MovieScalingMode mode) { scalingMode_ = mode; }
    bool useApplicationAudioSession() const { return useApplicationAudioSession_; }
    void setUseApplicationAudioSession(bool use) { useApplicationAudioSession_ = use; }

    // Full screen: the player's view leaves its place and covers the key window; leaving full
    // screen puts it back. Posts the will and did notifications of entering or leaving; the did
    // notification comes kFullscreenAnimationDuration later when animated. Without a key
    // window there is nothing to cover and nothing changes.
    bool isFullscreen() const { return fullscreen_; }
    void setFullscreen(bool fullscreen, bool animated = false);

    // The cap on a remote movie's length, for downloads started from now on.
    std::int64_t maximumRemoteMovieLength() const { return maximumRemoteMovieLength_; }
    void setMaximumRemoteMovieLength(std::int64_t bytes) { maximumRemoteMovieLength_ = bytes; }

    // The file the movie plays from once loaded (the downloaded copy of a remote movie).
    const std::filesystem::path& localFile() const { return localFile_; }

private:
    class Download;
    MoviePlayerController() = default;

    void startLoading();
    void load();
    void loadFile();
    void didLoad(MovieInfo info);
    void didFailToLoad(Error error);
    void downloadFinished(const std::optional<Error>& error);
    void startPlayback();
    void setState(MoviePlaybackState state);
    void scheduleEnd();
    void cancelEnd();
    void reachedEnd();
    void finish(MovieFinishReason reason, const std::optional<Error>& error);
    void completeFullscreenChange(bool fullscreen);
    void discardContent();
    void post(const char* name, Dictionary userInfo = {});
    void audioInterrupted(bool begins);

    RunLoop* loop_ = nullptr;
    ReadableFolder readable_;
    std::optional<URL> contentURL_;
    std::shared_ptr<MoviePlayerView> view_;
    unsigned loadState_ = MovieLoadState::Unknown;
    bool loadingStarted_ = false;
    bool prepared_ = false;
    bool playRequested_ = false;
    bool autoplayAllowed_ = true; // cleared by stop(), so a load that ends later stays still
    bool movieActive_ = false;    // loading, playing or paused: a later end reports a finish
    std::optional<MovieInfo> info_;
    std::optional<Error> loadError_;
    std::filesystem::path localFile_;
    bool localFileIsDownload_ = false;
    std::shared_ptr<Download> download_;
    std::shared_ptr<URLConnection> connection_;
    std::int64_t maximumRemoteMovieLength_ = kMaximumRemoteMovieLength;
    std::uint64_t generation_ = 0; // bumped by new content; stale loads compare it

    MoviePlaybackState state_ = MoviePlaybackState::Stopped;
    double position_ = 0;     // playback time when not playing, or when playing began
    double playingSince_ = 0; // monotonic clock reading when playing began
    double initialPlaybackTime_ = -1;
    bool shouldAutoplay_ = true;
    std::shared_ptr<Timer> endTimer_;

    MovieControlStyle controlStyle_ = MovieControlStyle::Default;
    MovieControlMode controlMode_ = MovieControlMode::Default;
    MovieScalingMode scalingMode_ = MovieScalingMode::AspectFit;
    bool useApplicationAudioSession_ = true;

    bool fullscreen_ = false;
    std::shared_ptr<Timer> fullscreenTimer_;
    std::weak_ptr<View> embeddedSuperview_;
    Rect embeddedFrame_;
};

} // namespace platform
