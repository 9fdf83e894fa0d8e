#include "platform/media/AudioPlayer.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioFile.h"
#include "platform/media/AudioSession.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace platform {

std::shared_ptr<AudioPlayer> AudioPlayer::create(const URL& url, const ReadableFolder& readable,
                                                 Error* error) {
    AudioFileID file = nullptr;
    OSStatus status = AudioFileOpenURL(url, kAudioFileReadPermission, kAudioFileCAFType, &file, readable);
    double seconds = 0;
    if (status == kAudioNoError) {
        std::uint32_t size = sizeof seconds;
        status = AudioFileGetProperty(file, kAudioFilePropertyEstimatedDuration, &size, &seconds);
        AudioFileClose(file);
    }
    if (status != kAudioNoError || !std::isfinite(seconds) || seconds < 0) {
        if (error)
            *error = Error{kErrorDomain,
                           status,
                           "The sound " + url.lastPathComponent() + " cannot be played (" +
                               fourCharCodeText(std::uint32_t(status)) + ")",
                           {}};
        return nullptr;
    }
    std::shared_ptr<AudioPlayer> player(new AudioPlayer(url, seconds));
    player->loop_ = &RunLoop::current();
    NotificationCenter::defaultCenter().observe<AudioPlayer>(
        player, kAudioSessionInterruptionNotification, [](AudioPlayer& self, const Notification& n) {
            auto state = n.userInfo.find(kAudioSessionInterruptionStateKey);
            if (state != n.userInfo.end() && state->second.intOr(-1) == kAudioSessionBeginInterruption)
                self.pause();
        });
    return player;
}

AudioPlayer::~AudioPlayer() {
    NotificationCenter::defaultCenter().removeObserver(this);
    cancelEnd();
}

bool AudioPlayer::prepareToPlay() {
    prepared_ = true;
    return true;
}

bool AudioPlayer::play() {
    prepared_ = true;
    if (playing_)
        return true;
    if (position_ >= duration_)
        position_ = 0;
    playing_ = true;
    playingSince_ = Clock::current().monotonic();
    scheduleEnd();
    return true;
}

void AudioPlayer::pause() {
    if (!playing_)
        return;
    position_ = currentTime();
    playing_ = false;
    cancelEnd();
}

void AudioPlayer::stop() {
    pause();
    prepared_ = false;
    loopsPlayed_ = 0;
}

double AudioPlayer::currentTime() const {
    if (!playing_)
        return position_;
    return std::clamp(position_ + Clock::current().monotonic() - playingSince_, 0.0, duration_);
}

void AudioPlayer::setCurrentTime(double seconds) {
    if (!std::isfinite(seconds))
        return;
    position_ = std::clamp(seconds, 0.0, duration_);
    if (playing_) {
        playingSince_ = Clock::current().monotonic();
        scheduleEnd();
    }
}

void AudioPlayer::setVolume(float volume) {
    volume_ = std::isfinite(volume) ? std::clamp(volume, 0.0f, 1.0f) : 0.0f;
}

void AudioPlayer::scheduleEnd() {
    cancelEnd();
    endTimer_ = Timer::create(std::max(0.0, duration_ - position_), false, [weak = weak_from_this()](Timer&) {
        if (auto self = weak.lock())
            self->reachedEnd();
    });
    loop_->add(endTimer_);
}

void AudioPlayer::cancelEnd() {
    if (endTimer_)
        endTimer_->invalidate();
    endTimer_.reset();
}

void AudioPlayer::reachedEnd() {
    auto self = shared_from_this();
    endTimer_.reset();
    if (numberOfLoops_ < 0 || loopsPlayed_ < numberOfLoops_) {
        ++loopsPlayed_;
        position_ = 0;
        playingSince_ = Clock::current().monotonic();
        // A sound of no length would loop without time passing: it ends instead.
        if (duration_ > 0) {
            scheduleEnd();
            return;
        }
    }
    loopsPlayed_ = 0;
    playing_ = false;
    position_ = 0;
    if (auto delegate = delegate_.lock())
        callGuarded("AudioPlayer delegate", [&] { delegate->audioPlayerDidFinishPlaying(*this, true); });
}

} // namespace platform
