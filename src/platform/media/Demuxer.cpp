#include "platform/media/Demuxer.h"

#include <dlfcn.h>

#include "platform/foundation/Log.h"

namespace platform {

const DemuxerEntryPoints* demuxer() {
    static const DemuxerEntryPoints* const entryPoints = []() -> const DemuxerEntryPoints* {
        void* module = ::dlopen(FW_DEMUXER_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            logLine(std::string("The media demuxer cannot be loaded: ") + ::dlerror());
            return nullptr;
        }
        using EntryPointsFunction = const DemuxerEntryPoints* (*)();
        auto function = reinterpret_cast<EntryPointsFunction>(::dlsym(module, "fw_demuxer_entry_points"));
        if (!function) {
            logLine("The media demuxer module has no entry points");
            return nullptr;
        }
        // The module stays loaded for the rest of the process.
        return function();
    }();
    return entryPoints;
}

} // namespace platform
