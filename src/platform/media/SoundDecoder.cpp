#include "platform/media/SoundDecoder.h"

#include <dlfcn.h>

#include "platform/foundation/Log.h"

namespace platform {

const SoundDecoderEntryPoints* soundDecoder() {
    static const SoundDecoderEntryPoints* const entryPoints = []() -> const SoundDecoderEntryPoints* {
        void* module = ::dlopen(FW_SOUND_DECODER_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            logLine(std::string("The sound decoder cannot be loaded: ") + ::dlerror());
            return nullptr;
        }
        using EntryPointsFunction = const SoundDecoderEntryPoints* (*)();
        auto function = reinterpret_cast<EntryPointsFunction>(::dlsym(module, "fw_sound_decoder_entry_points"));
        if (!function) {
            logLine("The sound decoder module has no entry points");
            return nullptr;
        }
        // The module stays loaded for the rest of the process.
        return function();
    }();
    return entryPoints;
}

} // namespace platform
