// The sound decoder module, loaded on first use (see platform/media/SoundDecoder.h). It holds
// every call into the sound file library, so nothing else in the process links it.
#include <sndfile.h>

#include "platform/media/SoundDecoder.h"

namespace platform {

struct DecodedSound {
    SNDFILE* file = nullptr;
};

namespace {

// Formats of 16 bits or fewer are read as 16-bit integers, the rest as floats.
bool decodesAsFloat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
        return false;
    default:
        return true;
    }
}

DecodedSound* open(const char* path, DecodedSoundInfo& info) {
    SF_INFO sf{};
    SNDFILE* file = sf_open(path, SFM_READ, &sf);
    if (!file)
        return nullptr;
    info.frames = sf.frames;
    info.sampleRate = sf.samplerate;
    info.channels = sf.channels;
    info.asFloat = decodesAsFloat(sf.format);
    return new DecodedSound{file};
}

void close(DecodedSound* sound) {
    if (!sound)
        return;
    sf_close(sound->file);
    delete sound;
}

std::int64_t seek(DecodedSound* sound, std::int64_t frame) {
    return sf_seek(sound->file, frame, SEEK_SET);
}

std::int64_t readFloat(DecodedSound* sound, float* out, std::int64_t frames) {
    return sf_readf_float(sound->file, out, frames);
}

std::int64_t readShort(DecodedSound* sound, short* out, std::int64_t frames) {
    return sf_readf_short(sound->file, out, frames);
}

const SoundDecoderEntryPoints kEntryPoints{open, close, seek, readFloat, readShort};

} // namespace
} // namespace platform

extern "C" __attribute__((visibility("default"))) const platform::SoundDecoderEntryPoints*
fw_sound_decoder_entry_points() {
    return &platform::kEntryPoints;
}
