#pragma once
// The names and user-info keys of the movie player's notifications. Every one is posted on
// the default notification centre with the player (a std::shared_ptr<MoviePlayerController>)
// as object, on the player's run loop.
#include <cstdint>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace platform {

// The load state changed (loadState()).
inline constexpr const char* MPMoviePlayerLoadStateDidChangeNotification =
    "MPMoviePlayerLoadStateDidChangeNotification";
// The playback state changed (playbackState()).
inline constexpr const char* MPMoviePlayerPlaybackStateDidChangeNotification =
    "MPMoviePlayerPlaybackStateDidChangeNotification";
// isPreparedToPlay() changed.
inline constexpr const char* MPMediaPlaybackIsPreparedToPlayDidChangeNotification =
    "MPMediaPlaybackIsPreparedToPlayDidChangeNotification";
// The content is loaded and can play; with "error" in the user info when loading failed.
inline constexpr const char* MPMoviePlayerContentPreloadDidFinishNotification =
    "MPMoviePlayerContentPreloadDidFinishNotification";
// Playback ended, failed or was left by the user: see the reason key.
inline constexpr const char* MPMoviePlayerPlaybackDidFinishNotification =
    "MPMoviePlayerPlaybackDidFinishNotification";
// Full-screen presentation.
inline constexpr const char* MPMoviePlayerWillEnterFullscreenNotification =
    "MPMoviePlayerWillEnterFullscreenNotification";
inline constexpr const char* MPMoviePlayerDidEnterFullscreenNotification =
    "MPMoviePlayerDidEnterFullscreenNotification";
inline constexpr const char* MPMoviePlayerWillExitFullscreenNotification =
    "MPMoviePlayerWillExitFullscreenNotification";
inline constexpr const char* MPMoviePlayerDidExitFullscreenNotification =
    "MPMoviePlayerDidExitFullscreenNotification";

// User-info keys. The finish reason is an integer (MovieFinishReason); the error is a
// dictionary made by movieErrorValue (read it back with movieErrorFromUserInfo).
inline constexpr const char* MPMoviePlayerPlaybackDidFinishReasonUserInfoKey =
    "MPMoviePlayerPlaybackDidFinishReasonUserInfoKey";
inline constexpr const char* kMoviePlayerErrorUserInfoKey = "error";
inline constexpr const char* MPMoviePlayerFullscreenAnimationDurationUserInfoKey =
    "MPMoviePlayerFullscreenAnimationDurationUserInfoKey";

enum class MovieFinishReason : std::int64_t { PlaybackEnded = 0, PlaybackError = 1, UserExited = 2 };

// The error as it travels in a user-info dictionary: {"domain", "code", "description"}.
Value movieErrorValue(const Error& error);
// The "error" of a notification's user info; nullopt when there is none or it is malformed.
std::optional<Error> movieErrorFromUserInfo(const Dictionary& userInfo);

} // namespace platform
