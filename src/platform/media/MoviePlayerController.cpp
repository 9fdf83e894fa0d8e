#include "platform/media/MoviePlayerController.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MoviePlayerView.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

constexpr double kRemoteMovieTimeout = 60.0;

Error unsupportedAddress(const URL& url) {
    return Error{kURLErrorDomain, kURLErrorUnsupportedURL, "unsupported URL " + url.absoluteString(), {}};
}

bool isWebScheme(const URL& url) {
    std::string scheme = url.scheme();
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return scheme == "http" || scheme == "https";
}

// A new empty file in the device's tmp folder, keeping the movie's extension so its kind
// stays visible; answers the path and an open descriptor, or -1.
std::pair<std::filesystem::path, int> makeDownloadFile(const URL& url) {
    std::error_code ec;
    std::filesystem::create_directories(DeviceHome::tmp(), ec);
    std::string extension = url.pathExtension();
    bool plainExtension =
        !extension.empty() && extension.size() <= 8 &&
        std::all_of(extension.begin(), extension.end(), [](unsigned char c) { return std::isalnum(c); });
    std::string suffix = plainExtension ? "." + extension : "";
    std::string pattern = (DeviceHome::tmp() / ("movie-XXXXXX" + suffix)).string();
    int fd = ::mkstemps(pattern.data(), int(suffix.size()));
    return {fd >= 0 ? std::filesystem::path(pattern) : std::filesystem::path(), fd};
}

} // namespace

const char* toString(MoviePlaybackState state) {
    switch (state) {
    case MoviePlaybackState::Stopped:
        return "stopped";
    case MoviePlaybackState::Playing:
        return "playing";
    case MoviePlaybackState::Paused:
        return "paused";
    case MoviePlaybackState::Interrupted:
        return "interrupted";
    case MoviePlaybackState::SeekingForward:
        return "seeking forward";
    case MoviePlaybackState::SeekingBackward:
        return "seeking backward";
    }
    return "unknown";
}

// Writes a remote movie into its temporary file as it arrives and tells the player how the
// download ended. Held by its connection until the end; reaches the player weakly.
class MoviePlayerController::Download : public URLConnectionDelegate {
public:
    Download(std::weak_ptr<MoviePlayerController> player, std::uint64_t generation, int fd)
        : player_(std::move(player)), generation_(generation), fd_(fd) {}
    ~Download() override { closeFile(); }

    void connectionDidReceiveResponse(URLConnection& connection, const URLResponse& response) override {
        if (response.statusCode() < 200 || response.statusCode() > 299) {
            connection.cancel();
            end(Error{kURLErrorDomain,
                      kURLErrorBadServerResponse,
                      "the server answered status " + std::to_string(response.statusCode()),
                      {}});
        }
    }
    void connectionDidReceiveData(URLConnection& connection, const Data& data) override {
        std::size_t written = 0;
        while (fd_ >= 0 && written < data.size()) {
            ssize_t n = ::write(fd_, data.data() + written, data.size() - written);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                connection.cancel();
                end(Error{kURLErrorDomain, kURLErrorUnknown, "the movie could not be stored", {}});
                return;
            }
            written += std::size_t(n);
        }
    }
    void connectionDidFinishLoading(URLConnection&) override { end(std::nullopt); }
    void connectionDidFailWithError(URLConnection&, const Error& error) override { end(error); }

private:
    void closeFile() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void end(const std::optional<Error>& error) {
        if (ended_)
            return;
        ended_ = true;
        closeFile();
        auto player = player_.lock();
        if (player && player->generation_ == generation_)
            player->downloadFinished(error);
    }

    std::weak_ptr<MoviePlayerController> player_;
    std::uint64_t generation_;
    int fd_;
    bool ended_ = false;
};

std::shared_ptr<MoviePlayerController> MoviePlayerController::create(std::optional<URL> contentURL,
                                                                     ReadableFolder readable) {
    std::shared_ptr<MoviePlayerController> player(new MoviePlayerController());
    player->loop_ = &RunLoop::current();
    player->readable_ = std::move(readable);
    NotificationCenter::defaultCenter().observe<MoviePlayerController>(
        player, kAudioSessionInterruptionNotification,
        [](MoviePlayerController& self, const Notification& n) {
            auto state = n.userInfo.find(kAudioSessionInterruptionStateKey);
            if (state != n.userInfo.end())
                self.audioInterrupted(state->second.intOr(-1) == kAudioSessionBeginInterruption);
        });
    player->setContentURL(std::move(contentURL));
    return player;
}

MoviePlayerController::~MoviePlayerController() {
    NotificationCenter::defaultCenter().removeObserver(this);
    discardContent();
    if (fullscreenTimer_)
        fullscreenTimer_->invalidate();
    if (view_)
        view_->removeFromSuperview();
}

std::shared_ptr<MoviePlayerView> MoviePlayerController::view() {
    if (!view_)
        view_ = std::make_shared<MoviePlayerView>(weak_from_this());
    return view_;
}

void MoviePlayerController::discardContent() {
    ++generation_;
    cancelEnd();
    if (connection_)
        connection_->cancel();
    connection_.reset();
    if (localFileIsDownload_ && !localFile_.empty()) {
        std::error_code ec;
        std::filesystem::remove(localFile_, ec);
    }
    localFile_.clear();
    localFileIsDownload_ = false;
    info_.reset();
    loadError_.reset();
    loadState_ = MovieLoadState::Unknown;
    loadingStarted_ = false;
    prepared_ = false;
    playRequested_ = false;
    autoplayAllowed_ = true;
    movieActive_ = false;
    state_ = MoviePlaybackState::Stopped;
    position_ = 0;
}

void MoviePlayerController::setContentURL(std::optional<URL> url) {
    discardContent();
    contentURL_ = std::move(url);
    if (contentURL_)
        startLoading();
}

void MoviePlayerController::prepareToPlay() {
    startLoading();
}

void MoviePlayerController::startLoading() {
    if (loadingStarted_ || !contentURL_)
        return;
    loadingStarted_ = true;
    movieActive_ = true;
    // Loading always runs on a later turn, so callers can observe the player first.
    loop_->perform([weak = weak_from_this(), generation = generation_] {
        auto self = weak.lock();
        if (!self || self->generation_ != generation)
            return;
        callGuarded("MoviePlayerController load", [&] { self->load(); });
    });
}

void MoviePlayerController::load() {
    const URL& url = *contentURL_;
    if (url.isFileURL()) {
        // Only a file inside the folder this player may read, through its resolved path.
        auto path = readable_.resolve(url);
        if (!path) {
            didFailToLoad(Error{kURLErrorDomain,
                                kURLErrorNoPermissionsToReadFile,
                                url.absoluteString() + " lies outside the folder this player may read",
                                {}});
            return;
        }
        localFile_ = *path;
        loadFile();
        return;
    }
    if (!isWebScheme(url)) {
        didFailToLoad(unsupportedAddress(url));
        return;
    }
    auto [path, fd] = makeDownloadFile(url);
    if (fd < 0) {
        didFailToLoad(Error{kURLErrorDomain, kURLErrorUnknown, "no room for the movie download", {}});
        return;
    }
    localFile_ = path;
    localFileIsDownload_ = true;
    URLRequest request(url);
    request.setTimeoutInterval(kRemoteMovieTimeout);
    connection_ = URLConnection::create(std::move(request),
                                        std::make_shared<Download>(weak_from_this(), generation_, fd), false);
    connection_->setMaximumBodyLength(maximumRemoteMovieLength_);
    connection_->start();
}

void MoviePlayerController::downloadFinished(const std::optional<Error>& error) {
    connection_.reset();
    if (error)
        didFailToLoad(*error);
    else
        loadFile();
}

void MoviePlayerController::loadFile() {
    Error error;
    // A download is the player's own file in the device's tmp folder.
    const ReadableFolder folder = localFileIsDownload_ ? ReadableFolder(DeviceHome::tmp()) : readable_;
    if (auto info = MovieInfo::read(localFile_, folder, &error))
        didLoad(*info);
    else
        didFailToLoad(error);
}

void MoviePlayerController::didLoad(MovieInfo info) {
    auto self = shared_from_this(); // observers may let the player go
    std::uint64_t generation = generation_;
    info_ = info;
    loadState_ = MovieLoadState::Playable | MovieLoadState::PlaythroughOK;
    post(MPMoviePlayerLoadStateDidChangeNotification);
    if (generation != generation_)
        return;
    prepared_ = true;
    post(MPMediaPlaybackIsPreparedToPlayDidChangeNotification);
    if (generation != generation_)
        return;
    post(MPMoviePlayerContentPreloadDidFinishNotification);
    if (generation != generation_)
        return;
    if (state_ == MoviePlaybackState::Stopped && autoplayAllowed_ && (playRequested_ || shouldAutoplay_))
        startPlayback();
    else if (state_ == MoviePlaybackState::Stopped)
        movieActive_ = false; // loaded and waiting: nothing to finish yet
}

void MoviePlayerController::didFailToLoad(Error error) {
    auto self = shared_from_this();
    std::uint64_t generation = generation_;
    logLine("MoviePlayerController: cannot play " +
            (contentURL_ ? contentURL_->absoluteString() : std::string()) + ": " + error.description());
    loadError_ = error;
    playRequested_ = false;
    movieActive_ = false;
    finish(MovieFinishReason::PlaybackError, error);
    if (generation != generation_)
        return;
    Dictionary userInfo;
    userInfo[kMoviePlayerErrorUserInfoKey] = movieErrorValue(error);
    post(MPMoviePlayerContentPreloadDidFinishNotification, std::move(userInfo));
}

void MoviePlayerController::play() {
    if (!contentURL_ || loadError_)
        return;
    autoplayAllowed_ = true;
    if (!prepared_) {
        playRequested_ = true;
        startLoading();
        return;
    }
    if (state_ != MoviePlaybackState::Playing)
        startPlayback();
}

void MoviePlayerController::startPlayback() {
    playRequested_ = false;
    double length = duration();
    if (state_ == MoviePlaybackState::Stopped && initialPlaybackTime_ >= 0 && position_ == 0)
        position_ = std::min(initialPlaybackTime_, length);
    if (position_ >= length)
        position_ = 0;
    movieActive_ = true;
    playingSince_ = Clock::current().monotonic();
    scheduleEnd();
    setState(MoviePlaybackState::Playing);
}

void MoviePlayerController::pause() {
    if (state_ != MoviePlaybackState::Playing) {
        // Paused before the movie is loaded: it stays still once loaded.
        if (!prepared_) {
            playRequested_ = false;
            autoplayAllowed_ = false;
        }
        return;
    }
    position_ = currentPlaybackTime();
    cancelEnd();
    setState(MoviePlaybackState::Paused);
}

void MoviePlayerController::stop() {
    playRequested_ = false;
    autoplayAllowed_ = false;
    if (!movieActive_)
        return;
    auto self = shared_from_this();
    movieActive_ = false;
    cancelEnd();
    position_ = 0;
    std::uint64_t generation = generation_;
    setState(MoviePlaybackState::Stopped);
    if (generation == generation_)
        finish(MovieFinishReason::UserExited, std::nullopt);
}

double MoviePlayerController::currentPlaybackTime() const {
    if (state_ != MoviePlaybackState::Playing)
        return position_;
    double elapsed = Clock::current().monotonic() - playingSince_;
    return std::clamp(position_ + elapsed, 0.0, duration());
}

void MoviePlayerController::setCurrentPlaybackTime(double seconds) {
    if (!prepared_ || !(seconds == seconds))
        return;
    position_ = std::clamp(seconds, 0.0, duration());
    if (state_ == MoviePlaybackState::Playing) {
        playingSince_ = Clock::current().monotonic();
        scheduleEnd();
    }
}

void MoviePlayerController::setState(MoviePlaybackState state) {
    if (state_ == state)
        return;
    state_ = state;
    post(MPMoviePlayerPlaybackStateDidChangeNotification);
}

void MoviePlayerController::scheduleEnd() {
    cancelEnd();
    double remaining = std::max(0.0, duration() - position_);
    endTimer_ = Timer::create(remaining, false, [weak = weak_from_this(), generation = generation_](Timer&) {
        auto self = weak.lock();
        if (self && self->generation_ == generation)
            callGuarded("MoviePlayerController end", [&] { self->reachedEnd(); });
    });
    loop_->add(endTimer_);
}

void MoviePlayerController::cancelEnd() {
    if (endTimer_)
        endTimer_->invalidate();
    endTimer_.reset();
}

void MoviePlayerController::reachedEnd() {
    auto self = shared_from_this();
    endTimer_.reset();
    position_ = duration();
    movieActive_ = false;
    std::uint64_t generation = generation_;
    setState(MoviePlaybackState::Stopped);
    if (generation == generation_)
        finish(MovieFinishReason::PlaybackEnded, std::nullopt);
}

void MoviePlayerController::finish(MovieFinishReason reason, const std::optional<Error>& error) {
    Dictionary userInfo;
    userInfo[MPMoviePlayerPlaybackDidFinishReasonUserInfoKey] = Value(static_cast<long long>(reason));
    if (error)
        userInfo[kMoviePlayerErrorUserInfoKey] = movieErrorValue(*error);
    post(MPMoviePlayerPlaybackDidFinishNotification, std::move(userInfo));
}

void MoviePlayerController::setFullscreen(bool fullscreen, bool animated) {
    if (fullscreen == fullscreen_)
        return;
    auto self = shared_from_this();
    std::shared_ptr<Window> window;
    if (fullscreen) {
        window = Application::shared().keyWindow();
        if (!window)
            return;
    }
    if (fullscreenTimer_)
        fullscreenTimer_->invalidate();
    fullscreenTimer_.reset();
    double duration = animated ? kFullscreenAnimationDuration : 0.0;
    Dictionary userInfo;
    userInfo[MPMoviePlayerFullscreenAnimationDurationUserInfoKey] = duration;
    fullscreen_ = fullscreen;
    post(fullscreen ? MPMoviePlayerWillEnterFullscreenNotification
                    : MPMoviePlayerWillExitFullscreenNotification,
         userInfo);
    auto playerView = view();
    if (fullscreen) {
        embeddedSuperview_ = playerView->superview();
        embeddedFrame_ = playerView->frame();
        window->addSubview(playerView);
        playerView->setFrame(window->bounds());
    } else {
        auto superview = embeddedSuperview_.lock();
        playerView->removeFromSuperview();
        if (superview) {
            superview->addSubview(playerView);
            playerView->setFrame(embeddedFrame_);
        }
        embeddedSuperview_.reset();
    }
    const char* done =
        fullscreen ? MPMoviePlayerDidEnterFullscreenNotification : MPMoviePlayerDidExitFullscreenNotification;
    if (!animated) {
        post(done, userInfo);
        return;
    }
    fullscreenTimer_ = Timer::create(duration, false, [weak = weak_from_this(), done, userInfo](Timer&) {
        if (auto player = weak.lock()) {
            player->fullscreenTimer_.reset();
            callGuarded("MoviePlayerController full screen", [&] { player->post(done, userInfo); });
        }
    });
    loop_->add(fullscreenTimer_);
}

void MoviePlayerController::audioInterrupted(bool begins) {
    if (begins && state_ == MoviePlaybackState::Playing) {
        position_ = currentPlaybackTime();
        cancelEnd();
        setState(MoviePlaybackState::Interrupted);
    } else if (!begins && state_ == MoviePlaybackState::Interrupted) {
        setState(MoviePlaybackState::Paused);
    }
}

void MoviePlayerController::post(const char* name, Dictionary userInfo) {
    NotificationCenter::defaultCenter().post(name, shared_from_this(), std::move(userInfo));
}

} // namespace platform
