#pragma once
// Audio Queue services, output side: a queue that plays buffers of linear PCM handed to it
// and gives each buffer back to its output callback once played, so the callback can refill
// and enqueue it again. This machine has no sound output: "playing" a buffer takes as long
// as its sound lasts (frames / sample rate) on the clock of the queue's run loop, so a manual
// clock drives playback in tests. Level metering measures the buffer being played.
//
// Life of a queue: AudioQueueNewOutput, then buffers are allocated and enqueued (before or
// after AudioQueueStart); AudioQueueStart sets it running, and it plays its buffers in order.
// AudioQueueStop with `immediate` drops every queued buffer and stops at once; without it
// the queue stops after the buffers already queued have played (a stop asked for before the
// start takes effect once the queue has played what it holds). A stopping queue refuses new
// buffers. AudioQueuePause holds playback where it is; AudioQueueStart goes on from there.
//
// Callbacks: the output callback and the property listeners run on the run loop given at
// creation (the current one when none is), never inside the call that caused them. Listeners
// of kAudioQueuePropertyIsRunning hear every change of the running state on a later turn.
// After AudioQueueDispose nothing is called any more. An exception thrown by a callback is
// caught and logged at that boundary.
//
// Ownership and threads: the queue owns its buffers (freed by AudioQueueDispose); an
// AudioQueueRef is a handle, so a disposed or unknown queue answers kAudioQueueErrInvalidQueue,
// never a crash. Use a queue from the thread of its run loop.
#include <cstdint>
#include <functional>

#include "platform/media/AudioTypes.h"

namespace platform {

class RunLoop;

using AudioQueueRef = struct OpaqueAudioQueue*;
using AudioQueuePropertyID = std::uint32_t;
using AudioQueueParameterID = std::uint32_t;

// A buffer of the queue: memory for sound and, when asked for, packet descriptions.
struct AudioQueueBuffer {
    std::uint32_t audioDataBytesCapacity = 0;
    void* audioData = nullptr;
    std::uint32_t audioDataByteSize = 0;
    void* userData = nullptr;
    std::uint32_t packetDescriptionCapacity = 0;
    AudioPacketDescription* packetDescriptions = nullptr;
    std::uint32_t packetDescriptionCount = 0;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

using AudioQueueOutputCallback =
    std::function<void(void* userData, AudioQueueRef queue, AudioQueueBufferRef buffer)>;
using AudioQueuePropertyListenerProc =
    std::function<void(void* userData, AudioQueueRef queue, AudioQueuePropertyID property)>;

// Properties: running state (uint32, read only); magic cookie (bytes); level metering on or
// off (uint32); the current level meter, one AudioLevelMeterState per channel, linear (0..1)
// or in decibels.
inline constexpr AudioQueuePropertyID kAudioQueuePropertyIsRunning = fourCharCode("aqrn");
inline constexpr AudioQueuePropertyID kAudioQueuePropertyMagicCookie = fourCharCode("aqmc");
inline constexpr AudioQueuePropertyID kAudioQueuePropertyEnableLevelMetering = fourCharCode("aqme");
inline constexpr AudioQueuePropertyID kAudioQueuePropertyCurrentLevelMeter = fourCharCode("aqmv");
inline constexpr AudioQueuePropertyID kAudioQueuePropertyCurrentLevelMeterDB = fourCharCode("aqmd");
// Parameters: the volume, 0..1.
inline constexpr AudioQueueParameterID kAudioQueueParamVolume = 1;

// Errors.
inline constexpr OSStatus kAudioQueueErrInvalidBuffer = -66687;
inline constexpr OSStatus kAudioQueueErrBufferEmpty = -66686;
inline constexpr OSStatus kAudioQueueErrInvalidProperty = -66683;
inline constexpr OSStatus kAudioQueueErrInvalidPropertySize = -66682;
inline constexpr OSStatus kAudioQueueErrInvalidParameter = -66680;
inline constexpr OSStatus kAudioQueueErrInvalidQueue = -66671;
inline constexpr OSStatus kAudioQueueErrEnqueueDuringReset = -66632;
inline constexpr OSStatus kAudioFormatUnsupportedDataFormatError = OSStatus(fourCharCode("fmt?"));

// A queue for packed linear PCM of 8, 16, 24 or 32 bits (integer) or 32 bits (float), one
// frame per packet, or for MP3 or AAC packets (bytes per packet 0, frames per packet set),
// whose buffers must come with their packet descriptions; a compressed buffer lasts its
// packets' frames, and the level meter, which measures PCM only, reads silence for it. Any
// other format answers kAudioFormatUnsupportedDataFormatError. `flags` must be 0.
OSStatus AudioQueueNewOutput(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                             void* userData, RunLoop* callbackRunLoop, std::uint32_t flags,
                             AudioQueueRef* outQueue);
OSStatus AudioQueueDispose(AudioQueueRef queue, bool immediate);

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, std::uint32_t bufferByteSize,
                                  AudioQueueBufferRef* outBuffer);
OSStatus AudioQueueAllocateBufferWithPacketDescriptions(AudioQueueRef queue, std::uint32_t bufferByteSize,
                                                        std::uint32_t numberPacketDescriptions,
                                                        AudioQueueBufferRef* outBuffer);
// Queues a filled buffer (its audioDataByteSize set) for playing, with the descriptions of
// its packets when it has any (they are copied into the buffer's own descriptions).
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 std::uint32_t numPacketDescs, const AudioPacketDescription* packetDescs);

OSStatus AudioQueueStart(AudioQueueRef queue);
OSStatus AudioQueuePause(AudioQueueRef queue);
OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);

OSStatus AudioQueueSetParameter(AudioQueueRef queue, AudioQueueParameterID parameter, float value);
OSStatus AudioQueueGetParameter(AudioQueueRef queue, AudioQueueParameterID parameter, float* outValue);
OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID property, const void* data,
                               std::uint32_t dataSize);
// Copies a property's value into `outData` (`*ioDataSize` bytes); answers the bytes written.
OSStatus AudioQueueGetProperty(AudioQueueRef queue, AudioQueuePropertyID property, void* outData,
                               std::uint32_t* ioDataSize);
OSStatus AudioQueueGetPropertySize(AudioQueueRef queue, AudioQueuePropertyID property,
                                   std::uint32_t* outDataSize);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID property,
                                       AudioQueuePropertyListenerProc listener, void* userData);

} // namespace platform
