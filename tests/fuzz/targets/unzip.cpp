// The shared unpacker: any bytes as a downloaded archive, through both entry points: unpackZip
// (the script archives) and unpackZipFolder (the rich-media bundles, folder "ad", with the
// packing tool's metadata folder skipped). The destinations lie deep inside a scratch area
// that holds files of its own at every level, and the whole area is checked afterwards:
// nothing appears outside what each unpacking may make, nothing there changes, no link and
// no temporary or staging file is left anywhere, the caps hold, a folder unpacking that fails
// leaves the folder it would replace as it was, and a file where the folder goes stays.
#include "FuzzSupport.h"

#include <fstream>
#include <map>
#include <sstream>

#include "archive/ZipUnpacker.h"

namespace {

namespace fs = std::filesystem;

// Small caps, so a crafted archive cannot make one run write much.
constexpr std::size_t kMaxEntries = 64;
constexpr std::uint64_t kMaxTotalBytes = 1 << 20;
// Levels between the scratch area and the destinations: an entry climbing out with up to
// this many ".." lands inside the area, where the walk finds it.
constexpr int kDepth = 12;
constexpr std::string_view kFolder = "ad";
constexpr std::string_view kMetadata = "__MACOSX";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool isUnder(const fs::path& path, const fs::path& folder) {
    const auto relative = path.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

// The files below `folder` and their bytes (a folder may be made for the path of a file, so
// folders are not counted against the entries).
std::pair<std::size_t, std::uint64_t> filesBelow(const fs::path& folder) {
    std::size_t count = 0;
    std::uint64_t bytes = 0;
    if (!fs::exists(folder))
        return {0, 0};
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            ++count;
            bytes += entry.file_size();
        }
    }
    return {count, bytes};
}

bool isMetadata(std::string_view name) {
    return name.substr(0, kMetadata.size()) == kMetadata &&
           (name.size() == kMetadata.size() || name[kMetadata.size()] == '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwfuzz::ScratchFolder scratch;
    const fs::path archivePath = scratch.path() / "bundle.zip";
    writeFile(archivePath, fwfuzz::text(data, size));

    // The area's own files: one at every level, and beside the folder to replace a store file
    // and another bundle, as the rich-media cache has them.
    std::map<fs::path, std::string> own;
    fs::path level = scratch.path();
    for (int i = 0; i < kDepth; ++i) {
        own[level / "level.txt"] = "level " + std::to_string(i);
        level /= "l" + std::to_string(i);
    }
    const fs::path plain = level / "plain" / "inner";
    const fs::path bundles = level / "bundles";
    own[level / "plain" / "beside.txt"] = "beside";
    // Inputs of odd length find a file where the bundle's folder goes (a store that happens to
    // bear the ad's name), which is never replaced; the others find the bundle before.
    const bool fileInPlace = size % 2 == 1;
    own[fileInPlace ? bundles / kFolder : bundles / kFolder / "old.txt"] = "the bundle before";
    own[bundles / "store.sql"] = "store";
    own[bundles / "other" / "index.html"] = "another bundle";
    for (const auto& [path, bytes] : own) {
        fs::create_directories(path.parent_path());
        writeFile(path, bytes);
    }

    archive::ZipLimits limits;
    limits.maxEntries = kMaxEntries;
    limits.maxTotalBytes = kMaxTotalBytes;
    const auto loose = archive::unpackZip(archivePath.string(), plain.string(), limits);
    FUZZ_CHECK(loose.ok == loose.error.empty());
    const auto folder =
        archive::unpackZipFolder(archivePath.string(), bundles.string(), kFolder, limits, isMetadata);
    FUZZ_CHECK(folder.ok == folder.error.empty());

    // The whole area: what each unpacking may make, and the area's own files and folders.
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
        const fs::path& path = entry.path();
        const std::string name = path.filename().string();
        FUZZ_CHECK(!entry.is_symlink());
        FUZZ_CHECK(entry.is_regular_file() || entry.is_directory());
        // Entries may carry such names; the unpacker's own are made only in these places.
        FUZZ_CHECK(!name.starts_with(".unpacking-") || isUnder(path, plain) ||
                   isUnder(path, bundles / kFolder));
        FUZZ_CHECK(!name.starts_with(".staging-") || path.parent_path() != bundles);
        if (path == archivePath || own.count(path) || isUnder(path, plain))
            continue;
        if (folder.ok && isUnder(path, bundles / kFolder))
            continue;
        // Otherwise only the folders leading to the area's files and the destinations.
        FUZZ_CHECK(entry.is_directory());
        bool leads = isUnder(plain, path) || isUnder(bundles, path) || path == plain;
        for (const auto& [file, bytes] : own)
            leads = leads || isUnder(file, path);
        FUZZ_CHECK(leads);
    }
    for (const auto& [path, bytes] : own) {
        if (folder.ok && isUnder(path, bundles / kFolder))
            continue; // the bundle's folder was replaced whole
        FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(path)));
        FUZZ_CHECK(readFile(path) == bytes);
    }
    FUZZ_CHECK(!fs::exists(bundles / kMetadata));

    const auto [looseFiles, looseBytes] = filesBelow(plain);
    FUZZ_CHECK(looseFiles <= kMaxEntries && looseBytes <= kMaxTotalBytes);
    FUZZ_CHECK(!(folder.ok && fileInPlace));
    if (!fileInPlace) {
        const auto [bundleFiles, bundleBytes] = filesBelow(bundles / kFolder);
        if (folder.ok)
            FUZZ_CHECK(bundleFiles <= kMaxEntries && bundleBytes <= kMaxTotalBytes);
        else
            FUZZ_CHECK(bundleFiles == 1); // the bundle before, alone and unchanged
    }
    return 0;
}
