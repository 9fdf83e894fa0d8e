#include "platform/media/SoundDecoder.h"

#include "platform/media/Module.h"

namespace platform {

const SoundDecoderEntryPoints* soundDecoder() {
    static const auto* const entryPoints = loadModuleEntryPoints<SoundDecoderEntryPoints>(
        FW_SOUND_DECODER_MODULE, "fw_sound_decoder_entry_points", "sound decoder");
    return entryPoints;
}

} // namespace platform
