#pragma once
// The sound decoder: turns sound files of the kinds libsndfile knows (WAV, AIFF and the rest)
// into linear PCM. Like the demuxer, it lives in a module of its own that is loaded the first
// time such a file is opened: the decoding library and the codec libraries it pulls in are
// many, and a process that never plays a sound file should not pay for loading them at
// start-up.
//
// A file is opened read-only. One decoded sound is read from one thread at a time.
#include <cstdint>

namespace platform {

// An open sound, owned by the module; closed with SoundDecoderEntryPoints::close.
struct DecodedSound;

// What an open sound holds. `asFloat`: its samples are read as 32-bit floats (formats of more
// than 16 bits and floating-point ones); otherwise as 16-bit signed integers.
struct DecodedSoundInfo {
    std::int64_t frames = 0;
    int sampleRate = 0;
    int channels = 0;
    bool asFloat = false;
};

// The module's entry points. `open` answers nullptr for a file it cannot decode. `seek`
// answers the frame reached, or a negative number; the readers answer the frames read
// (interleaved samples into `out`), 0 or less at the end or on an error.
struct SoundDecoderEntryPoints {
    DecodedSound* (*open)(const char* path, DecodedSoundInfo& info);
    void (*close)(DecodedSound* sound);
    std::int64_t (*seek)(DecodedSound* sound, std::int64_t frame);
    std::int64_t (*readFloat)(DecodedSound* sound, float* out, std::int64_t frames);
    std::int64_t (*readShort)(DecodedSound* sound, short* out, std::int64_t frames);
};

// The loaded module's entry points, or nullptr when it cannot be loaded (said once in the log).
const SoundDecoderEntryPoints* soundDecoder();

} // namespace platform
