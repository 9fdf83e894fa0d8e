#include "platform/media/Demuxer.h"

#include "platform/media/Module.h"

namespace platform {
namespace {

// The loaded module's entry points, or nullptr when it cannot be loaded (said once in the log).
const DemuxerEntryPoints* demuxer() {
    static const auto* const entryPoints =
        loadModuleEntryPoints<DemuxerEntryPoints>(FW_DEMUXER_MODULE, "fw_demuxer_entry_points", "media demuxer");
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
