// The shared unpacker: any bytes as a downloaded archive. Nothing ever appears outside the
// destination folder, and what is inside it is plain files and folders only (no links).
#include "FuzzSupport.h"

#include <fstream>

#include "archive/ZipUnpacker.h"

namespace {

// Small caps, so a crafted archive cannot make one run write much.
constexpr std::size_t kMaxEntries = 64;
constexpr std::uint64_t kMaxTotalBytes = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwfuzz::ScratchFolder scratch;
    const auto archivePath = scratch.path() / "bundle.zip";
    {
        std::ofstream out(archivePath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto destination = scratch.path() / "dest" / "inner";
    archive::ZipLimits limits;
    limits.maxEntries = kMaxEntries;
    limits.maxTotalBytes = kMaxTotalBytes;
    const auto result = archive::unpackZip(archivePath.string(), destination.string(), limits);
    FUZZ_CHECK(result.ok == result.error.empty());

    // Outside the destination: only the archive and the folders leading to the destination.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
        const auto& path = entry.path();
        if (path == archivePath || path == scratch.path() / "dest" || path == destination)
            continue;
        const auto relative = path.lexically_relative(destination);
        FUZZ_CHECK(!relative.empty() && *relative.begin() != "..");
        FUZZ_CHECK(!entry.is_symlink());
        FUZZ_CHECK(entry.is_regular_file() || entry.is_directory());
    }
    std::uint64_t total = 0;
    std::size_t count = 0;
    if (std::filesystem::exists(destination))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(destination)) {
            ++count;
            if (entry.is_regular_file())
                total += entry.file_size();
        }
    FUZZ_CHECK(total <= kMaxTotalBytes);
    FUZZ_CHECK(count <= kMaxEntries);
    return 0;
}
