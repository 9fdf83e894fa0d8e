#include "tangent/TGLog.h"

#include <array>
#include <charconv>
#include <mutex>
#include <string>

#include "platform/foundation/Log.h"
#include "platform/foundation/ProcessInfo.h"

namespace tangent {

namespace {

constexpr std::string_view kEnabledVariable = "TGLogEnabled";
constexpr std::string_view kLevelVariable = "TGLogLevel";
constexpr std::array<std::string_view, 3> kEnabledWords = {"YES", "TRUE", "1"};
constexpr int kInfoLevel = 1;
constexpr int kLogLevel = 2;
constexpr int kTraceLevel = 3;
constexpr std::string_view kInfoPrefix = "Tangent: ";

struct Settings {
    bool initialised = false;
    bool enabled = false;
    int activeLevel = kInfoLevel;
};

std::mutex& settingsMutex() {
    static std::mutex mutex;
    return mutex;
}

Settings& settings() {
    static Settings value;
    return value;
}

void initialiseLocked(Settings& s) {
    if (s.initialised)
        return;
    s.initialised = true;
    if (auto word = platform::ProcessInfo::environmentValue(kEnabledVariable))
        for (auto accepted : kEnabledWords)
            if (*word == accepted)
                s.enabled = true;
    if (auto text = platform::ProcessInfo::environmentValue(kLevelVariable)) {
        int level = 0;
        auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), level);
        if (error == std::errc() && end == text->data() + text->size() && level >= s.activeLevel)
            s.activeLevel = level;
    }
    if (s.enabled && s.activeLevel < kInfoLevel)
        s.activeLevel = kInfoLevel;
}

} // namespace

void TGLog::level(int level, std::string_view message) {
    {
        std::lock_guard lock(settingsMutex());
        auto& s = settings();
        initialiseLocked(s);
        if (!s.enabled || level > s.activeLevel)
            return;
    }
    platform::logLine(message);
}

void TGLog::info(std::string_view message) {
    level(kInfoLevel, std::string(kInfoPrefix) + std::string(message));
}

void TGLog::log(std::string_view message) {
    level(kLogLevel, message);
}

void TGLog::debug(std::string_view message) {
    level(kLogLevel, message);
}

void TGLog::trace(std::string_view message) {
    level(kTraceLevel, message);
}

bool TGLog::enabled() {
    std::lock_guard lock(settingsMutex());
    initialiseLocked(settings());
    return settings().enabled;
}

int TGLog::activeLevel() {
    std::lock_guard lock(settingsMutex());
    initialiseLocked(settings());
    return settings().activeLevel;
}

void TGLog::resetForTesting() {
    std::lock_guard lock(settingsMutex());
    settings() = Settings{};
}

} // namespace tangent
