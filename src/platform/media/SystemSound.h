#pragma once
// System sounds: short sounds the platform plays by number, and vibration, which is the
// system sound kSystemSoundIDVibrate. Nothing here makes a sound; each request is recorded
// (playedSystemSounds) and logged, so tests and the runner can see that the device would
// have beeped or vibrated. Thread-safe.
#include <cstdint>
#include <vector>

namespace platform {

using SystemSoundID = std::uint32_t;
inline constexpr SystemSoundID kSystemSoundIDVibrate = 4095;

void AudioServicesPlaySystemSound(SystemSoundID sound);

// Every sound asked for since the last reset, in order.
std::vector<SystemSoundID> playedSystemSounds();
// How many of them were vibrations.
std::size_t vibrationCount();
void resetSystemSoundsForTesting();

} // namespace platform
