#include "platform/media/AudioSession.h"

#include <algorithm>
#include <array>
#include <memory>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"

namespace platform {
namespace {

constexpr std::array kCategories = {kAudioSessionCategoryAmbientSound, kAudioSessionCategorySoloAmbientSound,
                                    kAudioSessionCategoryMediaPlayback, kAudioSessionCategoryRecordAudio,
                                    kAudioSessionCategoryPlayAndRecord};

std::unique_ptr<AudioSession>& instance() {
    static std::unique_ptr<AudioSession> session;
    return session;
}

} // namespace

AudioSession& AudioSession::shared() {
    auto& session = instance();
    if (!session)
        session = std::make_unique<AudioSession>();
    return *session;
}

void AudioSession::resetForTesting() {
    instance().reset();
}

OSStatus AudioSession::initialize(InterruptionListener listener) {
    if (initialized_)
        return kAudioSessionAlreadyInitialized;
    initialized_ = true;
    listener_ = std::move(listener);
    return kAudioNoError;
}

OSStatus AudioSession::setActive(bool active) {
    if (!initialized_)
        return kAudioSessionNotInitialized;
    active_ = active;
    return kAudioNoError;
}

OSStatus AudioSession::getProperty(AudioSessionPropertyID property, std::uint32_t* outValue) const {
    if (!initialized_)
        return kAudioSessionNotInitialized;
    if (!outValue)
        return kAudioParameterError;
    if (property == kAudioSessionPropertyAudioCategory)
        *outValue = category_;
    else if (property == kAudioSessionPropertyOtherAudioIsPlaying)
        *outValue = otherAudioIsPlaying_ ? 1 : 0;
    else if (property == kAudioSessionPropertyAudioRoute)
        return kAudioSessionBadPropertySizeError; // the route is text
    else
        return kAudioSessionUnsupportedPropertyError;
    return kAudioNoError;
}

OSStatus AudioSession::getProperty(AudioSessionPropertyID property, std::string* outValue) const {
    if (!initialized_)
        return kAudioSessionNotInitialized;
    if (!outValue)
        return kAudioParameterError;
    if (property != kAudioSessionPropertyAudioRoute)
        return kAudioSessionUnsupportedPropertyError;
    *outValue = route_;
    return kAudioNoError;
}

OSStatus AudioSession::setProperty(AudioSessionPropertyID property, std::uint32_t value) {
    if (!initialized_)
        return kAudioSessionNotInitialized;
    if (property != kAudioSessionPropertyAudioCategory)
        return kAudioSessionUnsupportedPropertyError;
    if (std::find(kCategories.begin(), kCategories.end(), value) == kCategories.end())
        return kAudioSessionIncompatibleCategory;
    category_ = value;
    return kAudioNoError;
}

void AudioSession::beginInterruption() {
    if (interrupted_)
        return;
    interrupted_ = true;
    active_ = false;
    tellListener(kAudioSessionBeginInterruption);
}

void AudioSession::endInterruption() {
    if (!interrupted_)
        return;
    interrupted_ = false;
    tellListener(kAudioSessionEndInterruption);
}

void AudioSession::tellListener(std::uint32_t state) {
    Dictionary userInfo;
    userInfo[kAudioSessionInterruptionStateKey] = Value(static_cast<long long>(state));
    NotificationCenter::defaultCenter().post(kAudioSessionInterruptionNotification, std::move(userInfo));
    if (!listener_)
        return;
    // The listener is the session's; the session lives for the process (or the test).
    RunLoop::main().perform([listener = listener_, state] {
        callGuarded("AudioSession interruption listener", [&] { listener(state); });
    });
}

} // namespace platform
