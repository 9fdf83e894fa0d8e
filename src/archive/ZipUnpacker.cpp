#include "archive/ZipUnpacker.h"

#include <minizip/unzip.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/foundation/FileManager.h"

namespace archive {
namespace {

namespace fs = std::filesystem;

// Longest entry name accepted; names are read with their real length up to this.
constexpr std::size_t kMaxEntryNameBytes = 4096;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr unsigned kHostUnix = 3;

struct Entry {
    std::string name;
    std::string relative; // the name without a folder's trailing "/"
    bool isDirectory = false;
    std::uint64_t size = 0;
};

class ZipFile {
public:
    explicit ZipFile(const std::string& path) : file_(unzOpen64(path.c_str())) {}
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

bool isSymbolicLink(const unz_file_info64& info) {
    if ((info.version >> 8) != kHostUnix)
        return false;
    const auto mode = static_cast<mode_t>(info.external_fa >> 16);
    return S_ISLNK(mode);
}

ZipResult failure(std::string why) {
    ZipResult result;
    result.error = std::move(why);
    return result;
}

// Every entry of the archive, or the reason one of them may not be unpacked.
std::optional<std::vector<Entry>> listEntries(unzFile zip, const fs::path& destination, const ZipLimits& limits,
                                              std::string& why) {
    std::vector<Entry> entries;
    std::uint64_t total = 0;
    int status = unzGoToFirstFile(zip);
    for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
        if (entries.size() + 1 > limits.maxEntries) {
            why = "too many entries";
            return std::nullopt;
        }
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            why = "unreadable entry";
            return std::nullopt;
        }
        if (info.size_filename == 0 || info.size_filename > kMaxEntryNameBytes) {
            why = "entry name empty or too long";
            return std::nullopt;
        }
        Entry entry;
        entry.name.assign(info.size_filename, '\0');
        if (unzGetCurrentFileInfo64(zip, &info, entry.name.data(), static_cast<uLong>(entry.name.size()), nullptr,
                                    0, nullptr, 0) != UNZ_OK) {
            why = "unreadable entry";
            return std::nullopt;
        }
        if (entry.name.find('\0') != std::string::npos || entry.name.find('\\') != std::string::npos) {
            why = "entry with a forbidden name";
            return std::nullopt;
        }
        if (isSymbolicLink(info)) {
            why = "entry is a link: " + entry.name;
            return std::nullopt;
        }
        entry.isDirectory = entry.name.back() == '/';
        entry.relative = entry.isDirectory ? entry.name.substr(0, entry.name.size() - 1) : entry.name;
        bool inside = !entry.relative.empty() && entry.relative.front() != '/' &&
                      platform::FileManager::pathInside(destination, entry.relative).has_value();
        for (const auto& part : fs::path(entry.relative))
            if (part == "..")
                inside = false;
        if (!inside) {
            why = "entry outside the destination: " + entry.name;
            return std::nullopt;
        }
        entry.size = info.uncompressed_size;
        total += entry.size;
        if (total > limits.maxTotalBytes) {
            why = "archive too large";
            return std::nullopt;
        }
        entries.push_back(std::move(entry));
    }
    if (status != UNZ_END_OF_LIST_OF_FILE) {
        why = "damaged archive directory";
        return std::nullopt;
    }
    return entries;
}

// Streams the current entry to `target` through a temporary file; `budget` is what may
// still be written. Closing the entry checks its CRC.
bool extractCurrent(unzFile zip, const fs::path& target, std::uint64_t& budget, std::string& why) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        why = "entry cannot be opened";
        return false;
    }
    const fs::path temporary = target.string() + ".unpacking";
    bool ok = true;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        ok = static_cast<bool>(out);
        if (!ok)
            why = "cannot write " + target.string();
        std::vector<char> buffer(kReadChunk);
        while (ok) {
            const int read = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (read < 0) {
                why = "damaged entry data";
                ok = false;
                break;
            }
            if (read == 0)
                break;
            if (static_cast<std::uint64_t>(read) > budget) {
                why = "archive too large";
                ok = false;
                break;
            }
            budget -= static_cast<std::uint64_t>(read);
            out.write(buffer.data(), read);
            if (!out) {
                why = "cannot write " + target.string();
                ok = false;
            }
        }
        out.close();
        if (ok && !out) {
            why = "cannot write " + target.string();
            ok = false;
        }
    }
    // Only a fully read entry has its CRC checked; a partly read one answers an error too.
    if (unzCloseCurrentFile(zip) != UNZ_OK && ok) {
        why = "entry fails its CRC check";
        ok = false;
    }
    std::error_code ec;
    if (ok) {
        fs::rename(temporary, target, ec);
        if (ec) {
            why = "cannot place " + target.string();
            ok = false;
        }
    }
    if (!ok)
        fs::remove(temporary, ec);
    return ok;
}

} // namespace

ZipResult unpackZip(const std::string& archivePath, const std::string& destination, const ZipLimits& limits,
                    const std::function<bool(std::string_view)>& skip) {
    const fs::path root(destination);
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec || !fs::is_directory(root))
        return failure("cannot create " + destination);
    ZipFile zip(archivePath);
    if (!zip.get())
        return failure("cannot open " + archivePath);
    std::string why;
    auto entries = listEntries(zip.get(), root, limits, why);
    if (!entries)
        return failure(why);

    ZipResult result;
    std::uint64_t budget = limits.maxTotalBytes;
    std::size_t index = 0;
    for (int status = unzGoToFirstFile(zip.get()); index < entries->size(); status = unzGoToNextFile(zip.get()), ++index) {
        if (status != UNZ_OK)
            return failure("damaged archive directory");
        const Entry& entry = (*entries)[index];
        if (skip && skip(entry.name))
            continue;
        // Checked again now that earlier entries exist: a folder may not have become a link.
        auto target = platform::FileManager::pathInside(root, entry.relative);
        if (!target)
            return failure("entry outside the destination: " + entry.name);
        if (entry.isDirectory) {
            fs::create_directories(*target, ec);
            if (ec || !fs::is_directory(*target))
                return failure("cannot create " + target->string());
            ++result.entriesWritten;
            continue;
        }
        fs::create_directories(target->parent_path(), ec);
        if (ec)
            return failure("cannot create " + target->parent_path().string());
        if (!extractCurrent(zip.get(), *target, budget, why))
            return failure(why);
        ++result.entriesWritten;
    }
    result.ok = true;
    return result;
}

} // namespace archive
