#include "platform/media/Demuxer.h"

#include <dlfcn.h>

#include "platform/foundation/Log.h"

namespace platform {
namespace {

// The loaded module's entry points, or nullptr when it cannot be loaded (said once in the log).
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

} // namespace

std::optional<DemuxedMovie> demuxMovie(const std::filesystem::path& path, const ReadableFolder& readable,
                                       const char* formats, std::string& why) {
    const auto resolved = readable.resolve(path);
    if (!resolved) {
        why = "the file lies outside the folder this reader may read";
        return std::nullopt;
    }
    const DemuxerEntryPoints* reader = demuxer();
    if (!reader) {
        why = "no demuxer is available";
        return std::nullopt;
    }
    return reader->readMovie(resolved->string(), formats, why);
}

std::optional<CompressedSound> demuxCompressedSound(const std::filesystem::path& path,
                                                    const ReadableFolder& readable, const char* formats) {
    const auto resolved = readable.resolve(path);
    const DemuxerEntryPoints* reader = resolved ? demuxer() : nullptr;
    if (!reader)
        return std::nullopt;
    return reader->readCompressedSound(resolved->string(), formats);
}

} // namespace platform
