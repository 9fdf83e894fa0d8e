#include "platform/media/AudioFile.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <fcntl.h>

#include "platform/media/Demuxer.h"
#include "platform/media/SoundDecoder.h"

namespace platform {
namespace {

constexpr int kMaximumChannels = 64;
constexpr int kMaximumSampleRate = 1'536'000;

// One open file. Decoded files go through the sound decoder; compressed ones (MP3, AAC) are
// read as their own packets, located once by the demuxer and then read straight from the file.
struct OpenAudioFile {
    AudioStreamDescription format;
    std::mutex mutex;
    // Decoded.
    const SoundDecoderEntryPoints* decoder = nullptr;
    DecodedSound* sound = nullptr;
    DecodedSoundInfo info;
    std::int64_t position = 0; // the next frame the decoder will read
    // Compressed.
    bool compressed = false;
    int fd = -1;
    std::vector<PacketPlace> packets;
    std::uint32_t largestPacket = 0;
    std::vector<std::uint8_t> cookie;

    std::uint64_t packetCount() const { return compressed ? packets.size() : std::uint64_t(info.frames); }
    double duration() const { return double(packetCount()) * format.framesPerPacket / format.sampleRate; }

    ~OpenAudioFile() {
        if (sound)
            decoder->close(sound);
        if (fd >= 0)
            ::close(fd);
    }
};

// Containers that may hold compressed sound, and nothing that names further files.
constexpr const char* kCompressedContainers = "mp3,aac,mov,mp4,m4a,3gp,3g2,mj2";

// Opens `path` as compressed sound when it is MP3 or AAC; false for anything else (which
// the sound decoder then tries).
bool openCompressed(const std::filesystem::path& path, const ReadableFolder& readable, OpenAudioFile& file) {
    auto sound = demuxCompressedSound(path, readable, kCompressedContainers);
    if (!sound)
        return false;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        return false;
    file.packets = std::move(sound->packets);
    file.largestPacket = sound->largestPacket;
    file.cookie = std::move(sound->cookie);
    file.compressed = true;
    AudioStreamDescription& d = file.format;
    d.sampleRate = sound->sampleRate;
    d.formatID = sound->formatID;
    d.channelsPerFrame = std::uint32_t(sound->channels);
    d.framesPerPacket = sound->framesPerPacket;
    return true;
}

std::mutex gRegistryMutex;
std::map<std::uintptr_t, std::shared_ptr<OpenAudioFile>> gOpenFiles;
std::uintptr_t gNextHandle = 1;

std::shared_ptr<OpenAudioFile> lookUp(AudioFileID id) {
    std::lock_guard lock(gRegistryMutex);
    auto found = gOpenFiles.find(reinterpret_cast<std::uintptr_t>(id));
    return found == gOpenFiles.end() ? nullptr : found->second;
}

AudioStreamDescription decodedFormat(const DecodedSoundInfo& info) {
    AudioStreamDescription d;
    const bool asFloat = info.asFloat;
    std::uint32_t bytesPerSample = asFloat ? 4 : 2;
    d.sampleRate = info.sampleRate;
    d.formatID = kAudioFormatLinearPCM;
    d.formatFlags = AudioFormatFlags::IsPacked |
                    (asFloat ? AudioFormatFlags::IsFloat : AudioFormatFlags::IsSignedInteger);
    d.channelsPerFrame = std::uint32_t(info.channels);
    d.bitsPerChannel = bytesPerSample * 8;
    d.bytesPerFrame = bytesPerSample * d.channelsPerFrame;
    d.bytesPerPacket = d.bytesPerFrame;
    d.framesPerPacket = 1;
    return d;
}

// Writes a fixed-size value into a property buffer.
template <typename T> OSStatus copyOut(const T& value, std::uint32_t* ioDataSize, void* outData) {
    if (!ioDataSize || !outData)
        return kAudioParameterError;
    if (*ioDataSize < sizeof(T))
        return kAudioFileBadPropertySizeError;
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return kAudioNoError;
}

// Reads whole packets while they fit, straight from the file.
OSStatus readCompressed(OpenAudioFile& file, std::uint32_t* ioNumBytes, AudioPacketDescription* descriptions,
                        std::int64_t startingPacket, std::uint32_t* ioNumPackets, void* outBuffer) {
    const std::uint32_t capacity = *ioNumBytes, wanted = *ioNumPackets;
    *ioNumBytes = 0;
    *ioNumPackets = 0;
    std::uint32_t bytes = 0, count = 0;
    auto* out = static_cast<std::uint8_t*>(outBuffer);
    for (std::uint64_t i = std::uint64_t(startingPacket); i < file.packets.size() && count < wanted; ++i) {
        const PacketPlace& place = file.packets[i];
        if (place.size > capacity - bytes)
            break;
        if (::pread(file.fd, out + bytes, place.size, place.offset) != ssize_t(place.size))
            break; // a read error ends the sound here
        if (descriptions)
            descriptions[count] = AudioPacketDescription{std::int64_t(bytes), 0, place.size};
        bytes += place.size;
        ++count;
    }
    *ioNumBytes = bytes;
    *ioNumPackets = count;
    return kAudioNoError;
}

} // namespace

std::string fourCharCodeText(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = char((code >> shift) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return text;
}

OSStatus AudioFileOpenURL(const URL& url, AudioFilePermissions permissions, AudioFileTypeID typeHint,
                          AudioFileID* outAudioFile, const ReadableFolder& readable) {
    (void)typeHint; // files are recognised by their contents
    if (!outAudioFile)
        return kAudioParameterError;
    *outAudioFile = nullptr;
    if (permissions != kAudioFileReadPermission)
        return kAudioFilePermissionsError;
    if (!url.isFileURL())
        return kAudioFileFileNotFoundError;
    // Only a file inside the folder this reader may read, through its resolved path.
    const auto resolved = readable.resolve(url);
    if (!resolved)
        return kAudioFilePermissionsError;
    const std::filesystem::path& path = *resolved;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return kAudioFileFileNotFoundError;
    if (::access(path.c_str(), R_OK) != 0)
        return kAudioFilePermissionsError;

    auto file = std::make_shared<OpenAudioFile>();
    if (!openCompressed(path, readable, *file)) {
        file = std::make_shared<OpenAudioFile>();
        file->decoder = soundDecoder();
        if (!file->decoder)
            return kAudioFileUnsupportedFileTypeError;
        file->sound = file->decoder->open(path.c_str(), file->info);
        if (!file->sound || file->info.channels <= 0 || file->info.channels > kMaximumChannels ||
            file->info.sampleRate <= 0 || file->info.sampleRate > kMaximumSampleRate || file->info.frames < 0)
            return kAudioFileUnsupportedFileTypeError;
        file->format = decodedFormat(file->info);
    }

    std::lock_guard lock(gRegistryMutex);
    std::uintptr_t handle = gNextHandle++;
    gOpenFiles.emplace(handle, std::move(file));
    *outAudioFile = reinterpret_cast<AudioFileID>(handle);
    return kAudioNoError;
}

OSStatus AudioFileGetPropertyInfo(AudioFileID id, AudioFilePropertyID property, std::uint32_t* outDataSize,
                                  std::uint32_t* isWritable) {
    auto file = lookUp(id);
    if (!file)
        return kAudioFileNotOpenError;
    std::uint32_t size = 0;
    if (property == kAudioFilePropertyDataFormat)
        size = sizeof(AudioStreamDescription);
    else if (property == kAudioFilePropertyPacketSizeUpperBound)
        size = sizeof(std::uint32_t);
    else if (property == kAudioFilePropertyMagicCookieData)
        size = std::uint32_t(file->cookie.size()); // decoded PCM carries none
    else if (property == kAudioFilePropertyAudioDataPacketCount)
        size = sizeof(std::uint64_t);
    else if (property == kAudioFilePropertyEstimatedDuration)
        size = sizeof(double);
    else
        return kAudioFileUnsupportedPropertyError;
    if (outDataSize)
        *outDataSize = size;
    if (isWritable)
        *isWritable = 0;
    return kAudioNoError;
}

OSStatus AudioFileGetProperty(AudioFileID id, AudioFilePropertyID property, std::uint32_t* ioDataSize,
                              void* outData) {
    auto file = lookUp(id);
    if (!file)
        return kAudioFileNotOpenError;
    if (property == kAudioFilePropertyDataFormat)
        return copyOut(file->format, ioDataSize, outData);
    if (property == kAudioFilePropertyPacketSizeUpperBound)
        return copyOut(file->compressed ? file->largestPacket : file->format.bytesPerPacket, ioDataSize,
                       outData);
    if (property == kAudioFilePropertyAudioDataPacketCount)
        return copyOut(file->packetCount(), ioDataSize, outData);
    if (property == kAudioFilePropertyEstimatedDuration)
        return copyOut(file->duration(), ioDataSize, outData);
    if (property == kAudioFilePropertyMagicCookieData) {
        if (!ioDataSize || (!outData && *ioDataSize > 0))
            return kAudioParameterError;
        if (*ioDataSize < file->cookie.size())
            return kAudioFileBadPropertySizeError;
        std::copy(file->cookie.begin(), file->cookie.end(), static_cast<std::uint8_t*>(outData));
        *ioDataSize = std::uint32_t(file->cookie.size());
        return kAudioNoError;
    }
    return kAudioFileUnsupportedPropertyError;
}

OSStatus AudioFileReadPackets(AudioFileID id, bool useCache, std::uint32_t* ioNumBytes,
                              AudioPacketDescription* outPacketDescriptions, std::int64_t startingPacket,
                              std::uint32_t* ioNumPackets, void* outBuffer) {
    (void)useCache;
    auto file = lookUp(id);
    if (!file)
        return kAudioFileNotOpenError;
    if (!ioNumBytes || !ioNumPackets || (!outBuffer && *ioNumPackets > 0))
        return kAudioParameterError;
    if (startingPacket < 0)
        return kAudioFileInvalidPacketOffsetError;
    std::lock_guard lock(file->mutex);
    if (file->compressed)
        return readCompressed(*file, ioNumBytes, outPacketDescriptions, startingPacket, ioNumPackets,
                              outBuffer);
    const std::uint32_t packetSize = file->format.bytesPerPacket;
    std::int64_t available = std::max<std::int64_t>(0, file->info.frames - startingPacket);
    std::int64_t wanted =
        std::min<std::int64_t>({std::int64_t(*ioNumPackets), std::int64_t(*ioNumBytes / packetSize), available});
    *ioNumPackets = 0;
    *ioNumBytes = 0;
    if (wanted <= 0)
        return kAudioNoError;
    if (file->position != startingPacket) {
        if (file->decoder->seek(file->sound, startingPacket) < 0)
            return kAudioFileInvalidPacketOffsetError;
        file->position = startingPacket;
    }
    std::int64_t read = 0;
    std::size_t bytes = 0;
    const auto samples = std::size_t(wanted) * file->format.channelsPerFrame;
    if (file->info.asFloat) {
        std::vector<float> decoded(samples);
        read = file->decoder->readFloat(file->sound, decoded.data(), wanted);
        bytes = std::size_t(std::max<std::int64_t>(read, 0)) * packetSize;
        std::memcpy(outBuffer, decoded.data(), bytes);
    } else {
        std::vector<short> decoded(samples);
        read = file->decoder->readShort(file->sound, decoded.data(), wanted);
        bytes = std::size_t(std::max<std::int64_t>(read, 0)) * packetSize;
        std::memcpy(outBuffer, decoded.data(), bytes);
    }
    if (read <= 0) {
        file->position = -1; // unknown after a failed read: seek next time
        return kAudioNoError;
    }
    file->position = startingPacket + read;
    if (outPacketDescriptions)
        for (std::int64_t i = 0; i < read; ++i)
            outPacketDescriptions[i] = AudioPacketDescription{std::int64_t(i) * packetSize, 0, packetSize};
    *ioNumPackets = std::uint32_t(read);
    *ioNumBytes = std::uint32_t(bytes);
    return kAudioNoError;
}

OSStatus AudioFileClose(AudioFileID id) {
    std::shared_ptr<OpenAudioFile> file;
    {
        std::lock_guard lock(gRegistryMutex);
        auto found = gOpenFiles.find(reinterpret_cast<std::uintptr_t>(id));
        if (found == gOpenFiles.end())
            return kAudioFileNotOpenError;
        file = std::move(found->second);
        gOpenFiles.erase(found);
    }
    return kAudioNoError; // the file closes when the last reader lets it go
}

} // namespace platform
