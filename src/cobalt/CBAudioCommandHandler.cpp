#include "cobalt/CBAudioCommandHandler.h"

#include <filesystem>

#include "cobalt/CBAdManager.h"
#include "cobalt/CBAudioEngine.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"

namespace cobalt {
namespace {

// The script's one-argument forms repeat until stopped.
constexpr int kScriptDefaultLoopCount = CBAudioEngine::kRepeatUntilStopped;
constexpr float kFullVolume = 1.0f;

float floatArgument(const platform::Value& argument) {
    if (const auto* s = argument.string())
        return platform::floatValue(*s);
    return static_cast<float>(argument.doubleOr(0));
}

int intArgument(const platform::Value& argument) {
    if (const auto* s = argument.string())
        return platform::intValue(*s);
    return static_cast<int>(argument.intOr(0));
}

} // namespace

CBAudioCommandHandler::CBAudioCommandHandler() : CBCommandHandler(kName) {
    using Arguments = CBCommandHandler::Arguments;
    // Runs `command` with the shared engine, when there is one.
    auto withEngine = [](auto command) {
        return [command](const Arguments& a) {
            if (auto engine = CBAudioEngine::sharedAudioEngine())
                command(*engine, a);
        };
    };
    // Runs `command` with the engine and the full path of the first argument in the ad's
    // folder; a name that leaves it is refused.
    auto withSound = [this, withEngine](auto command) {
        return withEngine([this, command](CBAudioEngine& engine, const Arguments& a) {
            const std::string name = text(a[0]);
            if (auto path = pathForFileName(name))
                command(engine, *path, a);
            else
                platform::logLine("BridgeAudio: refused sound name outside the ad's folder: " + name);
        });
    };
    using Engine = CBAudioEngine;
    using Path = const std::string&;

    addMethod("bridge_setSoundEffectVolume:",
              withEngine([](Engine& e, const Arguments& a) { e.setSoundEffectVolume(floatArgument(a[0])); }));
    addMethod("bridge_stopSoundEffects",
              withEngine([](Engine& e, const Arguments&) { e.stopSoundEffects(); }));
    addMethod("bridge_stopSoundEffectNamed:",
              withSound([](Engine& e, Path path, const Arguments&) { e.stopSoundEffectNamed(path); }));
    addMethod("bridge_playSoundEffectNamed:", withSound([](Engine& e, Path path, const Arguments&) {
                  e.playSoundEffectNamed(path, kScriptDefaultLoopCount, kFullVolume);
              }));
    addMethod("bridge_playSoundEffectNamed:loopCount:",
              withSound([](Engine& e, Path path, const Arguments& a) {
                  e.playSoundEffectNamed(path, intArgument(a[1]), kFullVolume);
              }));
    addMethod("bridge_playSoundEffectNamed:loopCount:volume:",
              withSound([](Engine& e, Path path, const Arguments& a) {
                  e.playSoundEffectNamed(path, intArgument(a[1]), floatArgument(a[2]));
              }));
    addMethod("bridge_setBackgroundMusicVolume:", withEngine([](Engine& e, const Arguments& a) {
                  e.setBackgroundMusicVolume(floatArgument(a[0]));
              }));
    addMethod("bridge_stopBackgroundMusic",
              withEngine([](Engine& e, const Arguments&) { e.stopBackgroundMusic(); }));
    addMethod("bridge_playBackgroundMusicNamed:", withSound([](Engine& e, Path path, const Arguments&) {
                  e.playBackgroundMusicNamed(path, kScriptDefaultLoopCount, kFullVolume);
              }));
    addMethod("bridge_playBackgroundMusicNamed:loopCount:",
              withSound([](Engine& e, Path path, const Arguments& a) {
                  e.playBackgroundMusicNamed(path, intArgument(a[1]), kFullVolume);
              }));
    addMethod("bridge_playBackgroundMusicNamed:loopCount:volume:",
              withSound([](Engine& e, Path path, const Arguments& a) {
                  e.playBackgroundMusicNamed(path, intArgument(a[1]), floatArgument(a[2]));
              }));
    addMethod("bridge_releaseAll", withEngine([](Engine& e, const Arguments&) { e.releaseAll(); }));
    // Preloading and releasing name the same files as playing and stopping, so they resolve
    // in the ad's folder too (and reach the same cache entries).
    addMethod("bridge_releaseAudioNamed:",
              withSound([](Engine& e, Path path, const Arguments&) { e.releaseAudioNamed(path); }));
    addMethod("bridge_preloadAudioNamed:",
              withSound([](Engine& e, Path path, const Arguments&) { e.preloadAudioNamed(path); }));
    addMethod("bridge_setMasterVolume:",
              withEngine([](Engine& e, const Arguments& a) { e.setMasterVolume(floatArgument(a[0])); }));
    addMethod("bridge_resume", withEngine([](Engine& e, const Arguments&) { e.resume(); }));
    addMethod("bridge_suspend", withEngine([](Engine& e, const Arguments&) { e.suspend(); }));
    addMethod("bridge_initializeWithSlotName:dlTime:",
              [this](const Arguments& a) { initializeWithSlotName(text(a[0]), text(a[1])); });
}

void CBAudioCommandHandler::initializeWithSlotName(const std::string& slotName, const std::string& dlTime) {
    const auto slot = platform::FileManager::safePathComponent(slotName);
    if (!slot) {
        platform::logLine("BridgeAudio: refused slot name: " + slotName);
        return;
    }
    resourcePath_ = (std::filesystem::path(CBAdManager::adRootDir()) / *slot /
                     std::to_string(platform::integerValue(dlTime)))
                        .string();
    CBAudioEngine::startup();
}

std::optional<std::string> CBAudioCommandHandler::pathForFileName(const std::string& name) const {
    const std::filesystem::path relative(name);
    if (resourcePath_.empty() || name.empty() || relative.is_absolute())
        return std::nullopt;
    // ".." may step out and back in ("../123/pop.wav" from the folder 123): apply it first,
    // then the name must stay inside, links included.
    const std::filesystem::path root(resourcePath_);
    const auto inside = (root / relative).lexically_normal().lexically_relative(root.lexically_normal());
    if (auto path = platform::FileManager::pathInside(root, inside.string()))
        return path->string();
    return std::nullopt;
}

} // namespace cobalt
