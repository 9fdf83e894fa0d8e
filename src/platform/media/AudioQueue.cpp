#include "platform/media/AudioQueue.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"

namespace platform {
namespace {

constexpr double kMaximumSampleRate = 1'536'000;
constexpr std::uint32_t kMaximumChannels = 64;
constexpr std::uint32_t kMaximumBufferBytes = 64u * 1024 * 1024;
constexpr std::uint32_t kMaximumPacketDescriptions = 1u << 20;
constexpr std::size_t kMaximumCookieBytes = 1u << 20;
// The quietest level the decibel meter reports, for silence.
constexpr float kSilenceDecibels = -120.0f;

struct QueueBuffer {
    AudioQueueBuffer buffer;
    std::vector<std::uint8_t> data;
    std::vector<AudioPacketDescription> descriptions;
    bool queued = false;
};

struct Listener {
    AudioQueuePropertyID property;
    AudioQueuePropertyListenerProc proc;
    void* userData;
};

// Reads one sample of a packed linear PCM frame as a value in -1..1.
double sampleAt(const std::uint8_t* p, const AudioStreamDescription& f) {
    const std::uint32_t bytes = f.bitsPerChannel / 8;
    const bool bigEndian = f.formatFlags & AudioFormatFlags::IsBigEndian;
    std::uint32_t raw = 0;
    for (std::uint32_t i = 0; i < bytes; ++i) {
        std::uint32_t byte = bigEndian ? p[i] : p[bytes - 1 - i];
        raw = (raw << 8) | byte;
    }
    if (f.formatFlags & AudioFormatFlags::IsFloat) {
        float value;
        std::memcpy(&value, &raw, sizeof value);
        return std::isfinite(value) ? std::clamp(double(value), -1.0, 1.0) : 0.0;
    }
    const double full = std::ldexp(1.0, int(f.bitsPerChannel) - 1);
    if (!(f.formatFlags & AudioFormatFlags::IsSignedInteger))
        return (double(raw) - full) / full;
    // Sign-extend from the sample's width.
    std::int64_t value = raw;
    if (raw & (1u << (f.bitsPerChannel - 1)))
        value -= std::int64_t(1) << f.bitsPerChannel;
    return double(value) / full;
}

bool isCompressed(const AudioStreamDescription& f) {
    return f.formatID == kAudioFormatMPEGLayer3 || f.formatID == kAudioFormatMPEG4AAC;
}

bool supported(const AudioStreamDescription& f) {
    if (isCompressed(f))
        return f.sampleRate > 0 && f.sampleRate <= kMaximumSampleRate && f.channelsPerFrame > 0 &&
               f.channelsPerFrame <= kMaximumChannels && f.bytesPerPacket == 0 && f.framesPerPacket > 0;
    if (f.formatID != kAudioFormatLinearPCM || !(f.sampleRate > 0) || f.sampleRate > kMaximumSampleRate ||
        f.channelsPerFrame == 0 || f.channelsPerFrame > kMaximumChannels || f.framesPerPacket != 1)
        return false;
    bool isFloat = f.formatFlags & AudioFormatFlags::IsFloat;
    bool bitsOK = isFloat ? f.bitsPerChannel == 32
                          : (f.bitsPerChannel == 8 || f.bitsPerChannel == 16 || f.bitsPerChannel == 24 ||
                             f.bitsPerChannel == 32);
    return bitsOK && f.bytesPerFrame == f.channelsPerFrame * f.bitsPerChannel / 8 &&
           f.bytesPerPacket == f.bytesPerFrame;
}

class OutputQueue : public std::enable_shared_from_this<OutputQueue> {
public:
    AudioQueueRef ref = nullptr;
    AudioStreamDescription format;
    AudioQueueOutputCallback callback;
    void* userData = nullptr;
    RunLoop* loop = nullptr;
    float volume = 1.0f;
    bool metering = false;
    std::vector<AudioLevelMeterState> levels;
    std::vector<std::uint8_t> cookie;
    std::vector<Listener> listeners;
    std::vector<std::unique_ptr<QueueBuffer>> buffers;
    std::deque<QueueBuffer*> queued;
    QueueBuffer* playing = nullptr;
    bool running = false;
    bool paused = false;
    bool stopping = false;
    bool disposed = false;
    double remaining = 0; // of the playing buffer, while paused
    std::shared_ptr<Timer> timer;

    QueueBuffer* find(AudioQueueBufferRef ref) {
        for (auto& b : buffers)
            if (&b->buffer == ref)
                return b.get();
        return nullptr;
    }

    void start() {
        paused = false;
        if (!running) {
            running = true;
            announceRunning();
        }
        if (playing && !timer)
            schedule(remaining);
        else if (!playing)
            playNext();
    }

    void pause() {
        if (!running || paused)
            return;
        paused = true;
        if (timer) {
            remaining = std::max(0.0, timer->fireTime() - Clock::current().monotonic());
            cancelTimer();
        }
    }

    void stop(bool immediate) {
        if (!immediate) {
            stopping = true;
            if (running && !paused && !playing && queued.empty())
                finishStop();
            return;
        }
        cancelTimer();
        for (auto* b : queued)
            b->queued = false;
        queued.clear();
        if (playing)
            playing->queued = false;
        playing = nullptr;
        stopping = false;
        finishStop();
    }

    void dispose() {
        disposed = true;
        cancelTimer();
        queued.clear();
        playing = nullptr;
        listeners.clear();
        callback = nullptr;
    }

    OSStatus enqueue(QueueBuffer& b, std::uint32_t count, const AudioPacketDescription* descriptions) {
        if (stopping)
            return kAudioQueueErrEnqueueDuringReset;
        if (b.queued)
            return kAudioQueueErrInvalidBuffer;
        if (b.buffer.audioDataByteSize == 0)
            return kAudioQueueErrBufferEmpty;
        if (b.buffer.audioDataByteSize > b.buffer.audioDataBytesCapacity || (count > 0 && !descriptions) ||
            count > b.buffer.packetDescriptionCapacity || (isCompressed(format) && count == 0))
            return kAudioQueueErrInvalidParameter;
        for (std::uint32_t i = 0; i < count; ++i)
            if (descriptions[i].startOffset < 0 ||
                std::uint64_t(descriptions[i].startOffset) + descriptions[i].dataByteSize >
                    b.buffer.audioDataByteSize)
                return kAudioQueueErrInvalidParameter;
        if (count > 0 && descriptions != b.buffer.packetDescriptions)
            std::copy(descriptions, descriptions + count, b.descriptions.begin());
        b.buffer.packetDescriptionCount = count;
        b.queued = true;
        queued.push_back(&b);
        if (running && !paused && !playing)
            playNext();
        return kAudioNoError;
    }

private:
    void cancelTimer() {
        if (timer)
            timer->invalidate();
        timer.reset();
    }

    void schedule(double seconds) {
        cancelTimer();
        timer = Timer::create(seconds, false, [weak = weak_from_this()](Timer&) {
            if (auto self = weak.lock(); self && !self->disposed)
                self->bufferPlayed();
        });
        loop->add(timer);
    }

    void playNext() {
        if (paused || playing || disposed)
            return;
        if (queued.empty()) {
            if (stopping)
                finishStop();
            return;
        }
        playing = queued.front();
        queued.pop_front();
        measure(*playing);
        schedule(double(frameCount(*playing)) / format.sampleRate);
    }

    void bufferPlayed() {
        auto self = shared_from_this();
        timer.reset();
        QueueBuffer* done = playing;
        playing = nullptr;
        if (done) {
            done->queued = false;
            if (callback) {
                auto call = callback; // the callback may dispose the queue
                callGuarded("AudioQueue output callback", [&] { call(userData, ref, &done->buffer); });
            }
        }
        if (!disposed)
            playNext();
    }

    void finishStop() {
        stopping = false;
        paused = false;
        std::fill(levels.begin(), levels.end(), AudioLevelMeterState{});
        if (running) {
            running = false;
            announceRunning();
        }
    }

    void announceRunning() {
        loop->perform([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self || self->disposed)
                return;
            auto current = self->listeners;
            for (const auto& l : current) {
                if (self->disposed)
                    return;
                if (l.property == kAudioQueuePropertyIsRunning)
                    callGuarded("AudioQueue property listener",
                                [&] { l.proc(l.userData, self->ref, kAudioQueuePropertyIsRunning); });
            }
        });
    }

    std::uint64_t frameCount(const QueueBuffer& b) const {
        if (!isCompressed(format))
            return b.buffer.audioDataByteSize / format.bytesPerFrame;
        std::uint64_t frames = 0;
        for (std::uint32_t i = 0; i < b.buffer.packetDescriptionCount; ++i) {
            std::uint32_t variable = b.descriptions[i].variableFramesInPacket;
            frames += variable ? variable : format.framesPerPacket;
        }
        return frames;
    }

    // The level of the buffer about to be heard: RMS and peak per channel, after the volume.
    void measure(const QueueBuffer& b) {
        if (!metering)
            return;
        if (isCompressed(format)) {
            std::fill(levels.begin(), levels.end(), AudioLevelMeterState{});
            return;
        }
        const std::uint32_t channels = format.channelsPerFrame;
        const std::uint32_t frames = b.buffer.audioDataByteSize / format.bytesPerFrame;
        const std::uint32_t sampleBytes = format.bitsPerChannel / 8;
        std::vector<double> sumSquares(channels, 0.0), peaks(channels, 0.0);
        for (std::uint32_t frame = 0; frame < frames; ++frame)
            for (std::uint32_t c = 0; c < channels; ++c) {
                double s = sampleAt(
                    b.data.data() + std::size_t(frame) * format.bytesPerFrame + c * sampleBytes, format);
                sumSquares[c] += s * s;
                peaks[c] = std::max(peaks[c], std::abs(s));
            }
        for (std::uint32_t c = 0; c < channels; ++c) {
            double rms = frames ? std::sqrt(sumSquares[c] / frames) : 0.0;
            levels[c] = AudioLevelMeterState{float(rms * volume), float(peaks[c] * volume)};
        }
    }
};

std::mutex gQueuesMutex;
std::map<std::uintptr_t, std::shared_ptr<OutputQueue>> gQueues;
std::uintptr_t gNextQueue = 1;

std::shared_ptr<OutputQueue> lookUp(AudioQueueRef ref) {
    std::lock_guard lock(gQueuesMutex);
    auto found = gQueues.find(reinterpret_cast<std::uintptr_t>(ref));
    return found == gQueues.end() ? nullptr : found->second;
}

float toDecibels(float linear) {
    return linear > 0 ? std::max(kSilenceDecibels, float(20.0 * std::log10(linear))) : kSilenceDecibels;
}

template <typename T> OSStatus copyOut(const T& value, void* outData, std::uint32_t* ioDataSize) {
    if (!outData || !ioDataSize)
        return kAudioParameterError;
    if (*ioDataSize < sizeof(T))
        return kAudioQueueErrInvalidPropertySize;
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return kAudioNoError;
}

OSStatus allocate(AudioQueueRef ref, std::uint32_t bytes, std::uint32_t descriptions,
                  AudioQueueBufferRef* out) {
    if (!out)
        return kAudioParameterError;
    *out = nullptr;
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (bytes == 0 || bytes > kMaximumBufferBytes || descriptions > kMaximumPacketDescriptions)
        return kAudioQueueErrInvalidParameter;
    auto b = std::make_unique<QueueBuffer>();
    b->data.assign(bytes, 0);
    b->descriptions.assign(descriptions, AudioPacketDescription{});
    b->buffer.audioDataBytesCapacity = bytes;
    b->buffer.audioData = b->data.data();
    b->buffer.packetDescriptionCapacity = descriptions;
    b->buffer.packetDescriptions = descriptions ? b->descriptions.data() : nullptr;
    *out = &b->buffer;
    queue->buffers.push_back(std::move(b));
    return kAudioNoError;
}

} // namespace

OSStatus AudioQueueNewOutput(const AudioStreamDescription& format, AudioQueueOutputCallback callback,
                             void* userData, RunLoop* callbackRunLoop, std::uint32_t flags,
                             AudioQueueRef* outQueue) {
    if (!outQueue)
        return kAudioParameterError;
    *outQueue = nullptr;
    if (flags != 0 || !callback)
        return kAudioQueueErrInvalidParameter;
    if (!supported(format))
        return kAudioFormatUnsupportedDataFormatError;
    auto queue = std::make_shared<OutputQueue>();
    queue->format = format;
    queue->callback = std::move(callback);
    queue->userData = userData;
    queue->loop = callbackRunLoop ? callbackRunLoop : &RunLoop::current();
    queue->levels.assign(format.channelsPerFrame, AudioLevelMeterState{});
    std::lock_guard lock(gQueuesMutex);
    std::uintptr_t handle = gNextQueue++;
    queue->ref = reinterpret_cast<AudioQueueRef>(handle);
    gQueues.emplace(handle, queue);
    *outQueue = queue->ref;
    return kAudioNoError;
}

OSStatus AudioQueueDispose(AudioQueueRef ref, bool immediate) {
    (void)immediate; // nothing plays for real, so there is nothing to let finish
    std::shared_ptr<OutputQueue> queue;
    {
        std::lock_guard lock(gQueuesMutex);
        auto found = gQueues.find(reinterpret_cast<std::uintptr_t>(ref));
        if (found == gQueues.end())
            return kAudioQueueErrInvalidQueue;
        queue = std::move(found->second);
        gQueues.erase(found);
    }
    queue->dispose();
    return kAudioNoError;
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, std::uint32_t bufferByteSize,
                                  AudioQueueBufferRef* outBuffer) {
    return allocate(queue, bufferByteSize, 0, outBuffer);
}

OSStatus AudioQueueAllocateBufferWithPacketDescriptions(AudioQueueRef queue, std::uint32_t bufferByteSize,
                                                        std::uint32_t numberPacketDescriptions,
                                                        AudioQueueBufferRef* outBuffer) {
    return allocate(queue, bufferByteSize, numberPacketDescriptions, outBuffer);
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef ref, AudioQueueBufferRef buffer, std::uint32_t numPacketDescs,
                                 const AudioPacketDescription* packetDescs) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    QueueBuffer* b = queue->find(buffer);
    if (!b)
        return kAudioQueueErrInvalidBuffer;
    return queue->enqueue(*b, numPacketDescs, packetDescs);
}

OSStatus AudioQueueStart(AudioQueueRef ref) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    queue->start();
    return kAudioNoError;
}

OSStatus AudioQueuePause(AudioQueueRef ref) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    queue->pause();
    return kAudioNoError;
}

OSStatus AudioQueueStop(AudioQueueRef ref, bool immediate) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    queue->stop(immediate);
    return kAudioNoError;
}

OSStatus AudioQueueSetParameter(AudioQueueRef ref, AudioQueueParameterID parameter, float value) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (parameter != kAudioQueueParamVolume || !(value >= 0.0f && value <= 1.0f))
        return kAudioQueueErrInvalidParameter;
    queue->volume = value;
    return kAudioNoError;
}

OSStatus AudioQueueGetParameter(AudioQueueRef ref, AudioQueueParameterID parameter, float* outValue) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (parameter != kAudioQueueParamVolume || !outValue)
        return kAudioQueueErrInvalidParameter;
    *outValue = queue->volume;
    return kAudioNoError;
}

OSStatus AudioQueueSetProperty(AudioQueueRef ref, AudioQueuePropertyID property, const void* data,
                               std::uint32_t dataSize) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (!data && dataSize > 0)
        return kAudioParameterError;
    if (property == kAudioQueuePropertyEnableLevelMetering) {
        if (dataSize != sizeof(std::uint32_t))
            return kAudioQueueErrInvalidPropertySize;
        std::uint32_t on;
        std::memcpy(&on, data, sizeof on);
        queue->metering = on != 0;
        return kAudioNoError;
    }
    if (property == kAudioQueuePropertyMagicCookie) {
        if (dataSize > kMaximumCookieBytes)
            return kAudioQueueErrInvalidPropertySize;
        auto bytes = static_cast<const std::uint8_t*>(data);
        queue->cookie.assign(bytes, bytes + dataSize);
        return kAudioNoError;
    }
    return kAudioQueueErrInvalidProperty; // unknown, or read only
}

OSStatus AudioQueueGetPropertySize(AudioQueueRef ref, AudioQueuePropertyID property,
                                   std::uint32_t* outDataSize) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (!outDataSize)
        return kAudioParameterError;
    if (property == kAudioQueuePropertyIsRunning || property == kAudioQueuePropertyEnableLevelMetering)
        *outDataSize = sizeof(std::uint32_t);
    else if (property == kAudioQueuePropertyMagicCookie)
        *outDataSize = std::uint32_t(queue->cookie.size());
    else if (property == kAudioQueuePropertyCurrentLevelMeter ||
             property == kAudioQueuePropertyCurrentLevelMeterDB)
        *outDataSize = std::uint32_t(queue->levels.size() * sizeof(AudioLevelMeterState));
    else
        return kAudioQueueErrInvalidProperty;
    return kAudioNoError;
}

OSStatus AudioQueueGetProperty(AudioQueueRef ref, AudioQueuePropertyID property, void* outData,
                               std::uint32_t* ioDataSize) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (property == kAudioQueuePropertyIsRunning)
        return copyOut(std::uint32_t(queue->running ? 1 : 0), outData, ioDataSize);
    if (property == kAudioQueuePropertyEnableLevelMetering)
        return copyOut(std::uint32_t(queue->metering ? 1 : 0), outData, ioDataSize);
    if (!ioDataSize || (!outData && *ioDataSize > 0))
        return kAudioParameterError;
    if (property == kAudioQueuePropertyMagicCookie) {
        if (*ioDataSize < queue->cookie.size())
            return kAudioQueueErrInvalidPropertySize;
        std::copy(queue->cookie.begin(), queue->cookie.end(), static_cast<std::uint8_t*>(outData));
        *ioDataSize = std::uint32_t(queue->cookie.size());
        return kAudioNoError;
    }
    if (property == kAudioQueuePropertyCurrentLevelMeter ||
        property == kAudioQueuePropertyCurrentLevelMeterDB) {
        if (!queue->metering)
            return kAudioQueueErrInvalidProperty;
        std::size_t count =
            std::min<std::size_t>(queue->levels.size(), *ioDataSize / sizeof(AudioLevelMeterState));
        if (count == 0)
            return kAudioQueueErrInvalidPropertySize;
        bool decibels = property == kAudioQueuePropertyCurrentLevelMeterDB;
        for (std::size_t c = 0; c < count; ++c) {
            AudioLevelMeterState state = queue->levels[c];
            if (decibels)
                state = AudioLevelMeterState{toDecibels(state.averagePower), toDecibels(state.peakPower)};
            std::memcpy(static_cast<std::uint8_t*>(outData) + c * sizeof state, &state, sizeof state);
        }
        *ioDataSize = std::uint32_t(count * sizeof(AudioLevelMeterState));
        return kAudioNoError;
    }
    return kAudioQueueErrInvalidProperty;
}

OSStatus AudioQueueAddPropertyListener(AudioQueueRef ref, AudioQueuePropertyID property,
                                       AudioQueuePropertyListenerProc listener, void* userData) {
    auto queue = lookUp(ref);
    if (!queue)
        return kAudioQueueErrInvalidQueue;
    if (!listener || property != kAudioQueuePropertyIsRunning)
        return kAudioQueueErrInvalidParameter;
    queue->listeners.push_back(Listener{property, std::move(listener), userData});
    return kAudioNoError;
}

} // namespace platform
