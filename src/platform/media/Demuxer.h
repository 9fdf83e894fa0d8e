#pragma once
// The demuxer: reads which streams a media container holds and where a compressed sound's
// packets lie, without decoding anything. It lives in a module of its own that is loaded the
// first time a movie or a compressed sound is opened: the container library and the codec
// libraries it pulls in are large, and a process that never plays media should not pay for
// loading them at start-up.
//
// Files are opened read-only, only as plain files and only by the demuxers named by the
// caller, so a crafted file cannot make the reader open anything else; and only inside the
// folder the caller may read (ReadableFolder.h), through the resolved path. Any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/ReadableFolder.h"
#include "platform/ui/Geometry.h"

namespace platform {

// What a movie container holds; `duration` is the container's own length, or the longest
// stream's when the container gives none (0 when neither is known).
struct DemuxedMovie {
    double duration = 0;
    Size naturalSize;
    bool hasVideo = false;
    bool hasAudio = false;
};

// Where one compressed packet lies in its file.
struct PacketPlace {
    std::int64_t offset;
    std::uint32_t size;
};

// A compressed (MP3 or AAC) sound's layout: every packet's place, checked against the file's
// own bytes, and the codec's configuration (the magic cookie).
struct CompressedSound {
    std::uint32_t formatID = 0;
    std::uint32_t framesPerPacket = 0;
    int sampleRate = 0;
    int channels = 0;
    std::vector<PacketPlace> packets;
    std::uint32_t largestPacket = 0;
    std::vector<std::uint8_t> cookie;
};

// The module's entry points. Both answer nullopt for a file they cannot read; `why` says
// what went wrong with a movie.
struct DemuxerEntryPoints {
    std::optional<DemuxedMovie> (*readMovie)(const std::string& path, const char* formats, std::string& why);
    std::optional<CompressedSound> (*readCompressedSound)(const std::string& path, const char* formats);
};

// What the movie at `path` holds, read by the demuxers named in `formats`; nullopt (and `why`)
// when the file lies outside `readable`, the module cannot be loaded or the file is no movie.
std::optional<DemuxedMovie> demuxMovie(const std::filesystem::path& path, const ReadableFolder& readable,
                                       const char* formats, std::string& why);
// The layout of the compressed sound at `path`; nullopt when the file lies outside
// `readable`, the module cannot be loaded or the file holds no such sound.
std::optional<CompressedSound> demuxCompressedSound(const std::filesystem::path& path,
                                                    const ReadableFolder& readable, const char* formats);

} // namespace platform
