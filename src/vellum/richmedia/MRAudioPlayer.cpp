// MRAudioPlayer: opening the file and its queue, buffer sizing, the three-buffer playback
// loop and the running-state notice.
#include "vellum/richmedia/MRAudioPlayer.h"

#include "platform/foundation/Numbers.h"

#include <algorithm>
#include <string>

#include "platform/runloop/RunLoop.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

struct TypeHint {
    const char* extension;
    platform::AudioFileTypeID type;
};
constexpr TypeHint kTypeHints[] = {
    {"mp3", platform::kAudioFileMP3Type},   {"m4a", platform::kAudioFileM4AType},
    {"mp4", platform::kAudioFileMPEG4Type}, {"aiff", platform::kAudioFileAIFFType},
    {"3gp", platform::kAudioFile3GPType},   {"amr", platform::kAudioFileAMRType},
};

} // namespace

MRAudioQueueObject::~MRAudioQueueObject() {
    notificationDelegate_.reset();
}

platform::AudioFileTypeID MRAudioPlayer::fileTypeHint(const platform::URL& url) {
    const std::string& text = url.absoluteString();
    const auto dot = text.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    for (const auto& hint : kTypeHints)
        if (extension == hint.extension)
            return hint.type;
    return platform::kAudioFileCAFType;
}

std::optional<MRAudioPlayer::BufferSizing> MRAudioPlayer::calculateBufferSize(
    const platform::AudioStreamDescription& format, std::uint32_t maxPacketSize) {
    // Without a packet bound no packet can be sized, and the division below has no meaning.
    if (maxPacketSize == 0)
        return std::nullopt;
    std::uint32_t bytes;
    if (format.framesPerPacket != 0)
        // The file's format is remote content: a huge (or NaN) rate saturates instead of wrapping.
        bytes = platform::saturatingCast<std::uint32_t>(format.sampleRate / format.framesPerPacket * kBufferSeconds *
                                                        maxPacketSize);
    else
        bytes = std::max(kMaxBufferSize, maxPacketSize);
    if (bytes > kMaxBufferSize && bytes > maxPacketSize)
        bytes = kMaxBufferSize;
    else if (bytes < kMinBufferSize)
        bytes = kMinBufferSize;
    std::uint32_t packets = bytes / maxPacketSize;
    if (packets == 0) {
        // A buffer always holds at least one whole packet.
        packets = 1;
        bytes = maxPacketSize;
    }
    return BufferSizing{bytes, packets};
}

std::shared_ptr<MRAudioPlayer> MRAudioPlayer::initWithURL(const platform::URL& url,
                                                          const platform::ReadableFolder& readable) {
    std::shared_ptr<MRAudioPlayer> player(new MRAudioPlayer(url));
    const auto hint = fileTypeHint(url);
    auto status = platform::AudioFileOpenURL(url, platform::kAudioFileReadPermission, hint, &player->audioFileID_,
                                             readable);
    if (status == 0) {
        std::uint32_t size = sizeof player->audioFormat_;
        status = platform::AudioFileGetProperty(player->audioFileID_, platform::kAudioFilePropertyDataFormat, &size,
                                                &player->audioFormat_);
    }
    if (status != 0) {
        const std::string code = platform::fourCharCodeText(hint);
        VellumAnalyticsManager::sharedInstance()->logDebug("AudioFileOpenURL returned %d when opening %s with type: %s",
                                                           static_cast<int>(status), url.absoluteString().c_str(),
                                                           code.c_str());
        return nullptr;
    }
    MRAudioPlayer* raw = player.get();
    status = platform::AudioQueueNewOutput(
        player->audioFormat_,
        [raw](void*, platform::AudioQueueRef, platform::AudioQueueBufferRef buffer) { raw->playbackCallback(buffer); },
        raw, &platform::RunLoop::current(), 0, &player->queueObject_);
    if (status != 0) {
        VellumAnalyticsManager::sharedInstance()->logDebug("AudioQueueNewOutput returned %d for %s",
                                                           static_cast<int>(status), url.absoluteString().c_str());
        return nullptr;
    }
    platform::AudioQueueSetParameter(player->queueObject_, platform::kAudioQueueParamVolume, player->gain_);
    player->audioLevels_.assign(std::max<std::uint32_t>(player->audioFormat_.channelsPerFrame, 1), {});
    const std::uint32_t metering = 1;
    platform::AudioQueueSetProperty(player->queueObject_, platform::kAudioQueuePropertyEnableLevelMetering, &metering,
                                    sizeof metering);
    platform::AudioQueueAddPropertyListener(
        player->queueObject_, platform::kAudioQueuePropertyIsRunning,
        [raw](void*, platform::AudioQueueRef, platform::AudioQueuePropertyID) { raw->runningChanged(); }, raw);
    std::uint32_t cookieSize = 0;
    if (platform::AudioFileGetPropertyInfo(player->audioFileID_, platform::kAudioFilePropertyMagicCookieData,
                                           &cookieSize, nullptr) == 0 &&
        cookieSize > 0) {
        std::vector<std::uint8_t> cookie(cookieSize);
        if (platform::AudioFileGetProperty(player->audioFileID_, platform::kAudioFilePropertyMagicCookieData,
                                           &cookieSize, cookie.data()) == 0)
            platform::AudioQueueSetProperty(player->queueObject_, platform::kAudioQueuePropertyMagicCookie,
                                            cookie.data(), cookieSize);
    }
    return player;
}

MRAudioPlayer::~MRAudioPlayer() {
    if (queueObject_)
        platform::AudioQueueDispose(queueObject_, true);
    closeFile();
}

void MRAudioPlayer::closeFile() {
    if (audioFileID_) {
        platform::AudioFileClose(audioFileID_);
        audioFileID_ = nullptr;
    }
}

bool MRAudioPlayer::play() {
    std::uint32_t maxPacketSize = 0;
    std::uint32_t size = sizeof maxPacketSize;
    if (!audioFileID_ ||
        platform::AudioFileGetProperty(audioFileID_, platform::kAudioFilePropertyPacketSizeUpperBound, &size,
                                       &maxPacketSize) != 0)
        return false;
    auto sizing = calculateBufferSize(audioFormat_, maxPacketSize);
    if (!sizing) {
        VellumAnalyticsManager::sharedInstance()->logDebug("%s has no packet size bound; nothing is played",
                                                           audioFileURL_.absoluteString().c_str());
        return false;
    }
    bufferByteSize_ = sizing->bufferByteSize;
    numPacketsToRead_ = sizing->numPacketsToRead;
    const bool variable = audioFormat_.bytesPerPacket == 0 || audioFormat_.framesPerPacket == 0;
    packetDescriptions_.assign(variable ? numPacketsToRead_ : 0, {});
    for (auto& buffer : buffers_) {
        const auto status =
            variable ? platform::AudioQueueAllocateBufferWithPacketDescriptions(queueObject_, bufferByteSize_,
                                                                                numPacketsToRead_, &buffer)
                     : platform::AudioQueueAllocateBuffer(queueObject_, bufferByteSize_, &buffer);
        if (status != 0)
            break;
        playbackCallback(buffer);
        if (donePlayingFile_)
            break;
    }
    return platform::AudioQueueStart(queueObject_) == 0;
}

void MRAudioPlayer::playbackCallback(platform::AudioQueueBufferRef buffer) {
    if (donePlayingFile_ || !audioFileID_)
        return;
    std::uint32_t bytes = buffer->audioDataBytesCapacity;
    std::uint32_t packets = numPacketsToRead_;
    platform::AudioFileReadPackets(audioFileID_, false, &bytes,
                                   packetDescriptions_.empty() ? nullptr : packetDescriptions_.data(),
                                   startingPacketNumber_, &packets, buffer->audioData);
    if (packets > 0) {
        buffer->audioDataByteSize = bytes;
        platform::AudioQueueEnqueueBuffer(queueObject_, buffer, packetDescriptions_.empty() ? 0 : packets,
                                          packetDescriptions_.empty() ? nullptr : packetDescriptions_.data());
        incrementStartingPacketNumberBy(packets);
        // A short read is the end of the file: no further buffer is needed.
        if (packets == numPacketsToRead_)
            return;
    }
    donePlayingFile_ = true;
    if (!audioPlayerShouldStopImmediately_)
        stop();
}

void MRAudioPlayer::stop() {
    closeFile();
    if (queueObject_)
        platform::AudioQueueStop(queueObject_, audioPlayerShouldStopImmediately_);
}

void MRAudioPlayer::pause() {
    if (queueObject_)
        platform::AudioQueuePause(queueObject_);
}

void MRAudioPlayer::resume() {
    if (queueObject_)
        platform::AudioQueueStart(queueObject_);
}

bool MRAudioPlayer::isRunning() const {
    std::uint32_t running = 0;
    std::uint32_t size = sizeof running;
    if (!queueObject_ ||
        platform::AudioQueueGetProperty(queueObject_, platform::kAudioQueuePropertyIsRunning, &running, &size) != 0)
        return false;
    return running != 0;
}

void MRAudioPlayer::getAudioLevels(float& average, float& peak) {
    std::uint32_t size = static_cast<std::uint32_t>(audioLevels_.size() * sizeof(platform::AudioLevelMeterState));
    if (queueObject_ && !audioLevels_.empty() &&
        platform::AudioQueueGetProperty(queueObject_, platform::kAudioQueuePropertyCurrentLevelMeterDB,
                                        audioLevels_.data(), &size) == 0) {
        average = audioLevels_[0].averagePower;
        peak = audioLevels_[0].peakPower;
    }
}

int MRAudioPlayer::allocatedBufferCount() const {
    return static_cast<int>(std::count_if(buffers_.begin(), buffers_.end(), [](auto b) { return b != nullptr; }));
}

void MRAudioPlayer::runningChanged() {
    if (auto delegate = notificationDelegate_.lock())
        delegate->audioQueueStateChangeCallback(*this);
}

} // namespace vellum
