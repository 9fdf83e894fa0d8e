#pragma once
// The plain types shared by the audio services: status codes, four-character codes, and the
// records that describe a sound stream, its packets and its level.
#include <cstdint>
#include <string>

namespace platform {

// The result of an audio-service call: 0 for success, else an error code (often four
// characters packed into a number, see fourCharCode).
using OSStatus = std::int32_t;
inline constexpr OSStatus kAudioNoError = 0;
// A parameter that makes no sense (a null out-pointer, a size that does not fit).
inline constexpr OSStatus kAudioParameterError = -50;

// Packs four characters into the number the audio services use for codes ("dfmt", "lpcm").
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}
// The four characters of a code, for logs.
std::string fourCharCodeText(std::uint32_t code);

// Format codes of a stream description.
inline constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
// Compressed sound, in packets of varying size.
inline constexpr std::uint32_t kAudioFormatMPEGLayer3 = fourCharCode(".mp3");
inline constexpr std::uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");
// Flags of linear PCM.
struct AudioFormatFlags {
    static constexpr std::uint32_t IsFloat = 1u << 0;
    static constexpr std::uint32_t IsBigEndian = 1u << 1;
    static constexpr std::uint32_t IsSignedInteger = 1u << 2;
    static constexpr std::uint32_t IsPacked = 1u << 3;
};

// The stream description: the 40-byte record that says how a sound is laid out.
struct AudioStreamDescription {
    double sampleRate = 0;
    std::uint32_t formatID = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0;
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;
    std::uint32_t reserved = 0;
};
static_assert(sizeof(AudioStreamDescription) == 40);

// Where one packet lies in a buffer of packets of varying size (16 bytes).
struct AudioPacketDescription {
    std::int64_t startOffset = 0;
    std::uint32_t variableFramesInPacket = 0;
    std::uint32_t dataByteSize = 0;
};
static_assert(sizeof(AudioPacketDescription) == 16);

// The level of one channel: average (RMS) and peak power, linear 0..1 or in decibels.
struct AudioLevelMeterState {
    float averagePower = 0;
    float peakPower = 0;
};

} // namespace platform
