#include "cobalt/CBAudioEngine.h"

#include <algorithm>
#include <filesystem>

#include "cobalt/CBPaths.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/media/AudioPlayer.h"
#include "platform/media/AudioSession.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Application.h"

namespace cobalt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kResumeFailsafeName = "_resumeFailsafe";

std::shared_ptr<CBAudioEngine>& sharedSlot() {
    static std::shared_ptr<CBAudioEngine> engine;
    return engine;
}

// Groups the engine's two application observers for removal.
const void* observerOwner() {
    static const char owner = 0;
    return &owner;
}

void stopAndRewind(platform::AudioPlayer& player) {
    player.stop();
    player.setCurrentTime(0);
}

} // namespace

void CBAudioEngine::startup() {
    if (sharedSlot())
        return;
    sharedSlot() = std::make_shared<CBAudioEngine>();
    auto& center = platform::NotificationCenter::defaultCenter();
    center.addObserver(
        platform::kApplicationWillResignActiveNotification,
        [](const platform::Notification&) {
            if (auto engine = sharedAudioEngine())
                engine->applicationWillResignActive();
        },
        nullptr, observerOwner());
    center.addObserver(
        platform::kApplicationDidBecomeActiveNotification,
        [](const platform::Notification&) {
            if (auto engine = sharedAudioEngine())
                engine->applicationDidBecomeActive();
        },
        nullptr, observerOwner());
}

void CBAudioEngine::teardown() {
    if (auto engine = sharedSlot()) {
        platform::NotificationCenter::defaultCenter().removeObserver(observerOwner());
        engine->stopAll();
        engine->cancelResumeFailsafe();
        sharedSlot().reset();
    }
    auto& session = platform::AudioSession::shared();
    session.initialize();
    session.setActive(false);
}

std::shared_ptr<CBAudioEngine> CBAudioEngine::sharedAudioEngine() {
    return sharedSlot();
}

CBAudioEngine::CBAudioEngine() {
    audioCache_.reserve(kAudioCacheCapacity);
    platform::AudioSession::shared().initialize();
    updateSession();
}

CBAudioEngine::~CBAudioEngine() {
    stopAll();
    cancelResumeFailsafe();
}

void CBAudioEngine::updateSession() {
    auto& session = platform::AudioSession::shared();
    session.setActive(false);
    std::uint32_t otherAudio = 0;
    session.getProperty(platform::kAudioSessionPropertyOtherAudioIsPlaying, &otherAudio);
    isMediaPlaying_ = (otherAudio & 0xff) != 0;
    if (isMediaPlaying_) {
        session.setProperty(platform::kAudioSessionPropertyAudioCategory,
                            platform::kAudioSessionCategoryAmbientSound);
        session.setActive(true);
    } else {
        session.setActive(true);
        session.setProperty(platform::kAudioSessionPropertyAudioCategory,
                            platform::kAudioSessionCategorySoloAmbientSound);
    }
}

void CBAudioEngine::preloadAudioNamed(const std::string& name) {
    if (name.empty() || audioCache_.contains(name))
        return;
    // A full path names an ad's file in the engine's content folder, anything else one of the
    // bundle's resources: the player reads only inside that folder.
    std::optional<fs::path> path;
    platform::ReadableFolder readable;
    if (fs::path(name).is_absolute()) {
        path = fs::path(name);
        readable = platform::ReadableFolder(CBPaths::cbContentDir());
    } else {
        path = platform::FileManager::pathInside(platform::Bundle::main().resourceDirectory(), name);
        readable = platform::ReadableFolder(platform::Bundle::main().resourceDirectory());
    }
    Entry entry{path ? path->string() : name, name, nullptr};
    if (path)
        entry.player = platform::AudioPlayer::create(platform::URL::fileURL(*path), readable);
    if (entry.player)
        entry.player->prepareToPlay();
    audioCache_.emplace(name, std::move(entry));
}

void CBAudioEngine::releaseAudioNamed(const std::string& name) {
    audioCache_.erase(name);
}

void CBAudioEngine::releaseAll() {
    stopAll();
    audioCache_.clear();
}

std::shared_ptr<platform::AudioPlayer> CBAudioEngine::playerNamed(const std::string& name) {
    preloadAudioNamed(name);
    auto it = audioCache_.find(name);
    return it == audioCache_.end() ? nullptr : it->second.player;
}

bool CBAudioEngine::playSoundEffectNamed(const std::string& name, int loopCount, float volume) {
    if (name.empty() || !soundEnabled_ || suspended_ || !(soundEffectVolume_ > 0))
        return false;
    auto player = playerNamed(name);
    if (!player)
        return false;
    player->setCurrentTime(0);
    player->setVolume(masterVolume_ * soundEffectVolume_ * volume);
    player->setNumberOfLoops(loopCount);
    if (std::find(currentSoundEffects_.begin(), currentSoundEffects_.end(), player) ==
        currentSoundEffects_.end())
        currentSoundEffects_.push_back(player);
    const bool played = player->play();
    if (!played) {
        player->stop();
        player->play();
    }
    return played;
}

bool CBAudioEngine::stopSoundEffectNamed(const std::string& name) {
    auto it = audioCache_.find(name);
    if (it == audioCache_.end() || !it->second.player)
        return true;
    auto player = it->second.player;
    stopAndRewind(*player);
    std::erase(currentSoundEffects_, player);
    return true;
}

bool CBAudioEngine::stopSoundEffects() {
    for (const auto& player : currentSoundEffects_)
        stopAndRewind(*player);
    currentSoundEffects_.clear();
    return true;
}

bool CBAudioEngine::playBackgroundMusicNamed(const std::string& name, int loopCount, float volume) {
    stopBackgroundMusic();
    if (name.empty() || !musicEnabled_ || suspended_ || isMediaPlaying_)
        return false;
    auto player = playerNamed(name);
    if (!player)
        return false;
    player->setCurrentTime(0);
    player->setVolume(masterVolume_ * backgroundMusicVolume_ * volume);
    player->setNumberOfLoops(loopCount);
    currentBackgroundMusic_ = player;
    return player->play();
}

bool CBAudioEngine::stopBackgroundMusic() {
    if (currentBackgroundMusic_) {
        stopAndRewind(*currentBackgroundMusic_);
        currentBackgroundMusic_.reset();
    }
    return true;
}

void CBAudioEngine::setMasterVolume(float volume) {
    masterVolume_ = volume;
    setBackgroundMusicVolume(backgroundMusicVolume_);
    setSoundEffectVolume(soundEffectVolume_);
}

void CBAudioEngine::setBackgroundMusicVolume(float volume) {
    backgroundMusicVolume_ = volume;
    if (currentBackgroundMusic_)
        currentBackgroundMusic_->setVolume(volume * masterVolume_);
}

void CBAudioEngine::setSoundEffectVolume(float volume) {
    soundEffectVolume_ = volume;
    for (const auto& player : currentSoundEffects_)
        player->setVolume(masterVolume_ * volume);
}

void CBAudioEngine::setSoundEnabled(bool enabled) {
    soundEnabled_ = enabled;
    if (!enabled)
        stopSoundEffects();
}

void CBAudioEngine::setMusicEnabled(bool enabled) {
    musicEnabled_ = enabled;
    if (!enabled)
        stopBackgroundMusic();
}

void CBAudioEngine::suspend() {
    if (suspended_)
        return;
    // A fail-safe still waiting from the last resume must not restart the track.
    cancelResumeFailsafe();
    if (currentBackgroundMusic_)
        currentBackgroundMusic_->stop();
    stopSoundEffects();
    suspended_ = true;
}

void CBAudioEngine::resume() {
    if (!suspended_)
        return;
    updateSession();
    suspended_ = false;
    // Music stays silent while another application plays, as when it starts.
    if (currentBackgroundMusic_ && musicEnabled_ && !isMediaPlaying_)
        currentBackgroundMusic_->play();
    platform::RunLoop::main().performAfter(kResumeFailsafeDelay, weak_from_this(),
                                           &CBAudioEngine::resumeFailsafe, this, kResumeFailsafeName);
}

void CBAudioEngine::resumeFailsafe() {
    if (suspended_ || sharedSlot().get() != this)
        return;
    if (currentBackgroundMusic_ && musicEnabled_ && !isMediaPlaying_)
        currentBackgroundMusic_->play();
}

void CBAudioEngine::cancelResumeFailsafe() {
    platform::RunLoop::main().cancelPerforms(this, kResumeFailsafeName);
}

void CBAudioEngine::stopAll() {
    stopBackgroundMusic();
    stopSoundEffects();
}

} // namespace cobalt
