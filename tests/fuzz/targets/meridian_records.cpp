// Meridian's ".mrarchive" video records: any bytes stored as a record in the cache folder are
// read as a record or as none, within the time bound; the sweep of expired records deletes
// only inside the cache folder; a record that reads writes back into an archive that reads
// back to the same archive.
#include "FuzzSupport.h"

#include <fstream>

#include "ArchiveChecksum.h"

#include "meridian/MRVideoCache.h"
#include "platform/archive/KeyedArchiver.h"
#include "support/TemporaryHome.h"

namespace {

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::TemporaryHome home;
    const auto folder = meridian::MRVideoCache::cacheFolder();
    std::filesystem::create_directories(folder);
    const platform::Data archive = fwfuzz::withMatchingChecksum(data, size);
    writeFile(folder / "record.mrarchive", fwfuzz::text(archive.data(), archive.size()));
    // Files the sweep must leave alone: one beside the cache folder, one in it of no record.
    const auto outside = folder.parent_path() / "keep.mp4";
    const auto unrelated = folder / "other.mp4";
    writeFile(outside, "video");
    writeFile(unrelated, "video");

    auto record = meridian::MRVideoCache::loadFromArchive("record");
    FUZZ_CHECK(meridian::MRVideoCache::cachedVideoPaths().size() == 1);
    meridian::MRVideoCache::removeExpiredCaches();
    FUZZ_CHECK(std::filesystem::exists(outside));
    if (!record)
        return 0;
    FUZZ_CHECK(record->localFilePath().parent_path() == folder);
    if (record->localFilePath() != unrelated)
        FUZZ_CHECK(std::filesystem::exists(unrelated));
    (void)record->isDownloadComplete();
    (void)record->isCacheExpired();

    const platform::Data written = platform::KeyedArchiver::archivedDataWithRootObject(*record);
    auto again = platform::KeyedUnarchiver::unarchiveObjectWithData(written, meridian::MRVideoCache::codingClasses());
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(platform::KeyedArchiver::archivedDataWithRootObject(*again) == written);
    return 0;
}
