// Unpacking of ad and close-button bundles with the zip library's reading functions: the
// archive is checked whole first (entry names, links, count and declared sizes), then
// unpacked entry by entry into the destination, overwriting what is there. The bytes
// actually written are counted too, so an archive that understates its sizes is stopped.
#include <minizip/unzip.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/foundation/FileManager.h"
#include "vellum/richmedia/VellumAdServer.h"
#include "vellum/tracking/VellumAnalyticsManager.h"

namespace vellum {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMacMetadataFolder = "__MACOSX";
constexpr std::size_t kMaxEntryNameBytes = 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr unsigned kHostUnix = 3;

struct Entry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
};

class ZipFile {
public:
    explicit ZipFile(const std::string& path) : file_(unzOpen(path.c_str())) {}
    ~ZipFile() {
        if (file_)
            unzClose(file_);
    }
    ZipFile(const ZipFile&) = delete;
    ZipFile& operator=(const ZipFile&) = delete;
    unzFile get() const { return file_; }

private:
    unzFile file_;
};

void logLine(const std::string& text) {
    VellumAnalyticsManager::sharedInstance()->logInternal("bundle unpacking: %s", text.c_str());
}

bool isSymbolicLink(const unz_file_info& info) {
    if ((info.version >> 8) != kHostUnix)
        return false;
    const auto mode = static_cast<mode_t>(info.external_fa >> 16);
    return S_ISLNK(mode);
}

bool isMacMetadata(const std::string& name) {
    return name == kMacMetadataFolder || name.rfind(std::string(kMacMetadataFolder) + "/", 0) == 0;
}

// Every entry of the archive, or nullopt when one of them may not be unpacked.
std::optional<std::vector<Entry>> listEntries(unzFile zip, const fs::path& destination,
                                              const VellumZipLimits& limits) {
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    std::size_t count = 0;
    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
        if (++count > limits.maxEntries) {
            logLine("too many entries");
            return std::nullopt;
        }
        unz_file_info info{};
        std::vector<char> name(kMaxEntryNameBytes + 1, '\0');
        if (unzGetCurrentFileInfo(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                                  nullptr, 0) != UNZ_OK ||
            info.size_filename > kMaxEntryNameBytes) {
            logLine("unreadable entry");
            return std::nullopt;
        }
        Entry entry;
        entry.name.assign(name.data(), info.size_filename);
        if (entry.name.find('\0') != std::string::npos || entry.name.find('\\') != std::string::npos) {
            logLine("entry with a forbidden name");
            return std::nullopt;
        }
        if (isSymbolicLink(info)) {
            logLine("entry is a link: " + entry.name);
            return std::nullopt;
        }
        entry.isDirectory = !entry.name.empty() && entry.name.back() == '/';
        std::string relative = entry.isDirectory ? entry.name.substr(0, entry.name.size() - 1) : entry.name;
        if (relative.empty() || relative.front() == '/' ||
            !platform::FileManager::pathInside(destination, relative)) {
            logLine("entry outside the destination: " + entry.name);
            return std::nullopt;
        }
        for (auto part : fs::path(relative))
            if (part == "..") {
                logLine("entry outside the destination: " + entry.name);
                return std::nullopt;
            }
        entry.size = info.uncompressed_size;
        total += entry.size;
        if (total > limits.maxTotalBytes) {
            logLine("archive too large");
            return std::nullopt;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// Writes the current entry to `target` through a temporary file; `budget` is what may
// still be written.
bool extractCurrent(unzFile zip, const fs::path& target, std::uint64_t& budget) {
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return false;
    const fs::path temporary = target.string() + ".unpacking";
    bool ok = true;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        ok = static_cast<bool>(out);
        std::vector<char> buffer(kReadChunk);
        while (ok) {
            const int read = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (read < 0) {
                ok = false;
                break;
            }
            if (read == 0)
                break;
            if (static_cast<std::uint64_t>(read) > budget) {
                logLine("archive too large");
                ok = false;
                break;
            }
            budget -= static_cast<std::uint64_t>(read);
            out.write(buffer.data(), read);
            ok = static_cast<bool>(out);
        }
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        ok = false;
    std::error_code ec;
    if (ok) {
        fs::rename(temporary, target, ec);
        ok = !ec;
    }
    if (!ok)
        fs::remove(temporary, ec);
    return ok;
}

} // namespace

bool VellumAdServer::expandZipFileAtPath(const std::string& archive, const std::string& destination,
                                         const VellumZipLimits& limits) {
    const fs::path root(destination);
    std::error_code ec;
    fs::create_directories(root, ec);
    ZipFile zip(archive);
    if (!zip.get()) {
        logLine("cannot open " + archive);
        return false;
    }
    auto entries = listEntries(zip.get(), root, limits);
    if (!entries)
        return false;
    std::uint64_t budget = limits.maxTotalBytes;
    bool ok = true;
    std::size_t index = 0;
    for (int status = unzGoToFirstFile(zip.get()); ok && status == UNZ_OK && index < entries->size();
         status = unzGoToNextFile(zip.get()), ++index) {
        const Entry& entry = (*entries)[index];
        if (isMacMetadata(entry.name))
            continue;
        const std::string relative =
            entry.isDirectory ? entry.name.substr(0, entry.name.size() - 1) : entry.name;
        // Checked again now that earlier entries exist: a folder may not have become a link.
        auto target = platform::FileManager::pathInside(root, relative);
        if (!target) {
            ok = false;
            break;
        }
        if (entry.isDirectory) {
            fs::create_directories(*target, ec);
            ok = !ec;
            continue;
        }
        fs::create_directories(target->parent_path(), ec);
        ok = !ec && extractCurrent(zip.get(), *target, budget);
    }
    // Metadata folders of the packing tool are never left in the cache.
    fs::remove_all(root / kMacMetadataFolder, ec);
    return ok;
}

} // namespace vellum
