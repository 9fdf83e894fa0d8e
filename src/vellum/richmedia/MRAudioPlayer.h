#pragma once
// MRAudioPlayer: plays one sound file of an ad's folder for the script bridge's "playsound".
// The file is streamed through the platform's audio output queue: read packet by packet into
// three rotating buffers of about half a second each, which the queue hands back as it
// empties them, so a long file is never held in memory. The notification delegate hears
// every change of the queue's running state (the bridge uses it to forget a finished player).
// MRAudioQueueObject is its base: what a queue-and-file pair needs.
//
// Ownership: made by initWithURL (null when the file cannot be opened or read), owned by
// whoever plays it; the delegate is held weakly. The queue's callbacks run on the run loop
// that was current at creation; none arrives after the player is gone (its queue is disposed
// at once).
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/URL.h"
#include "platform/media/AudioFile.h"
#include "platform/media/AudioQueue.h"

namespace vellum {

class MRAudioPlayer;

class MRAudioQueueObjectDelegate {
public:
    virtual ~MRAudioQueueObjectDelegate() = default;
    virtual void audioQueueStateChangeCallback(MRAudioPlayer& player) = 0;
};

class MRAudioQueueObject {
public:
    virtual ~MRAudioQueueObject();

    platform::AudioQueueRef queueObject() const { return queueObject_; }
    platform::AudioFileID audioFileID() const { return audioFileID_; }
    const platform::URL& audioFileURL() const { return audioFileURL_; }
    const platform::AudioStreamDescription& audioFormat() const { return audioFormat_; }
    const std::vector<platform::AudioLevelMeterState>& audioLevels() const { return audioLevels_; }
    std::int64_t startingPacketNumber() const { return startingPacketNumber_; }
    void setStartingPacketNumber(std::int64_t n) { startingPacketNumber_ = n; }
    void incrementStartingPacketNumberBy(std::uint32_t n) { startingPacketNumber_ += n; }
    std::shared_ptr<MRAudioQueueObjectDelegate> notificationDelegate() const { return notificationDelegate_.lock(); }
    void setNotificationDelegate(std::weak_ptr<MRAudioQueueObjectDelegate> d) { notificationDelegate_ = std::move(d); }

protected:
    explicit MRAudioQueueObject(platform::URL url) : audioFileURL_(std::move(url)) {}

    platform::AudioQueueRef queueObject_ = nullptr;
    platform::AudioFileID audioFileID_ = nullptr;
    platform::URL audioFileURL_;
    platform::AudioStreamDescription audioFormat_;
    std::vector<platform::AudioLevelMeterState> audioLevels_;
    std::int64_t startingPacketNumber_ = 0;
    std::weak_ptr<MRAudioQueueObjectDelegate> notificationDelegate_;
};

class MRAudioPlayer : public MRAudioQueueObject {
public:
    static constexpr int kNumberOfBuffers = 3;
    static constexpr double kBufferSeconds = 0.5;
    static constexpr std::uint32_t kMaxBufferSize = 0x10000;
    static constexpr std::uint32_t kMinBufferSize = 0x4000;

    // Bytes per buffer and packets per read for a format and its packet size bound; nullopt
    // for a zero bound (no packet could ever be read). At least one packet is always read.
    struct BufferSizing {
        std::uint32_t bufferByteSize;
        std::uint32_t numPacketsToRead;
    };
    static std::optional<BufferSizing> calculateBufferSize(const platform::AudioStreamDescription& format,
                                                           std::uint32_t maxPacketSize);
    // The file-type hint for a path's extension.
    static platform::AudioFileTypeID fileTypeHint(const platform::URL& url);

    // `readable`: the folder the sound may be read from (the ad's own).
    static std::shared_ptr<MRAudioPlayer> initWithURL(const platform::URL& url,
                                                      const platform::ReadableFolder& readable);
    ~MRAudioPlayer() override;

    // Answers whether the queue started.
    bool play();
    void stop();
    void pause();
    void resume();
    bool isRunning() const;
    // The first channel's average and peak power.
    void getAudioLevels(float& average, float& peak);

    std::uint32_t bufferByteSize() const { return bufferByteSize_; }
    std::uint32_t numPacketsToRead() const { return numPacketsToRead_; }
    bool hasPacketDescriptions() const { return !packetDescriptions_.empty(); }
    float gain() const { return gain_; }
    bool donePlayingFile() const { return donePlayingFile_; }
    bool audioPlayerShouldStopImmediately() const { return audioPlayerShouldStopImmediately_; }
    void setAudioPlayerShouldStopImmediately(bool on) { audioPlayerShouldStopImmediately_ = on; }
    // Buffers allocated by the last play.
    int allocatedBufferCount() const;

private:
    explicit MRAudioPlayer(platform::URL url) : MRAudioQueueObject(std::move(url)) {}
    void playbackCallback(platform::AudioQueueBufferRef buffer);
    void runningChanged();
    void closeFile();

    std::array<platform::AudioQueueBufferRef, kNumberOfBuffers> buffers_{};
    std::uint32_t bufferByteSize_ = 0;
    std::uint32_t numPacketsToRead_ = 0;
    std::vector<platform::AudioPacketDescription> packetDescriptions_;
    float gain_ = 1.0f;
    bool donePlayingFile_ = false;
    bool audioPlayerShouldStopImmediately_ = false;
};

} // namespace vellum
