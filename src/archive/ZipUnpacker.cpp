#include "archive/ZipUnpacker.h"

#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include <filesystem>
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

// A 32-bit size of this value means "see the zip64 extended-information field".
constexpr std::uint64_t kZip64Sentinel = 0xFFFFFFFFu;
constexpr std::uint16_t kZip64ExtraFieldId = 0x0001;
// The central directory's extra data is at most this long (its length is a 16-bit field).
constexpr std::size_t kMaxExtraFieldBytes = 0xFFFF;

// The compression methods the reader decodes; any other is refused by name when known.
constexpr unsigned long kMethodStored = 0;
constexpr unsigned long kMethodDeflated = 8;
struct MethodName {
    unsigned long method;
    const char* name;
};
constexpr std::array kUndecodedMethods{
    MethodName{9, "deflate64"},  MethodName{12, "bzip2"}, MethodName{14, "LZMA"},
    MethodName{93, "Zstandard"}, MethodName{95, "XZ"},
};

struct Entry {
    std::string name;
    std::string relative; // the name without a folder's trailing "/"
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
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

std::uint64_t readLittleEndian64(const unsigned char* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// The entry's true uncompressed size. The reader hands back the zip64 sentinel itself as the
// size of an entry that records its sizes in the zip64 extended-information field (it never
// reads that field on this system), so the size is read here from the central directory's
// extra data: when the 32-bit size is the sentinel, that field's first 8-byte value is the
// size. Without such a field the sentinel is the size; a field too short for it is damaged.
std::optional<std::uint64_t> uncompressedSize(const unz_file_info64& info,
                                              const std::vector<unsigned char>& extra) {
    if (info.uncompressed_size != kZip64Sentinel)
        return info.uncompressed_size;
    const std::size_t length = std::min<std::size_t>(extra.size(), info.size_file_extra);
    for (std::size_t at = 0; at + 4 <= length;) {
        const auto id = static_cast<std::uint16_t>(extra[at] | (extra[at + 1] << 8));
        const std::size_t size = extra[at + 2] | (std::size_t(extra[at + 3]) << 8);
        at += 4;
        if (size > length - at)
            break;
        if (id == kZip64ExtraFieldId) {
            if (size < 8)
                return std::nullopt;
            return readLittleEndian64(&extra[at]);
        }
        at += size;
    }
    return info.uncompressed_size;
}

// Why an entry's compression method cannot be read, or nothing when it can.
std::optional<std::string> undecodedMethod(const unz_file_info64& info) {
    if (info.compression_method == kMethodStored || info.compression_method == kMethodDeflated)
        return std::nullopt;
    for (const auto& known : kUndecodedMethods)
        if (known.method == info.compression_method)
            return std::string(known.name);
    return "method " + std::to_string(info.compression_method);
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
    std::vector<unsigned char> extra(kMaxExtraFieldBytes);
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
        if (unzGetCurrentFileInfo64(zip, &info, entry.name.data(), static_cast<uLong>(entry.name.size()),
                                    extra.data(), static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK) {
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
        if (auto method = undecodedMethod(info)) {
            why = "entry compressed with " + *method + ", which the unpacker cannot decode: " + entry.name;
            return std::nullopt;
        }
        const auto size = uncompressedSize(info, extra);
        if (!size) {
            why = "entry with a damaged zip64 size field: " + entry.name;
            return std::nullopt;
        }
        entry.size = *size;
        entry.crc = static_cast<std::uint32_t>(info.crc);
        if (entry.size > limits.maxTotalBytes - total) {
            why = "archive too large";
            return std::nullopt;
        }
        total += entry.size;
        // The zip library reads an entry's data up to its compressed size, and it takes the
        // sentinel itself for that size: it would read past the entry, and it fails where less
        // than its buffer follows. Only data of 4 GiB or more needs the zip64 field (far over
        // any cap), so here it comes from a writer that forces it; such an entry is refused.
        if (info.compressed_size == kZip64Sentinel) {
            why = "entry keeps its compressed size in the zip64 field, which the zip reader cannot follow: " +
                  entry.name;
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

// A file created exclusively beside `target` under a name that no existing file has, so an
// entry that happens to be named like a temporary file is never overwritten; beside the
// target it lies on the same file system, so the rename into place is atomic.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& target) {
        std::string pattern = (target.parent_path() / ".unpacking-XXXXXX").string();
        fd_ = ::mkstemp(pattern.data());
        if (fd_ >= 0)
            path_ = pattern;
    }
    ~TemporaryFile() {
        closeFile();
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    bool write(const char* bytes, std::size_t count) {
        while (count > 0) {
            const ssize_t written = ::write(fd_, bytes, count);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            bytes += written;
            count -= static_cast<std::size_t>(written);
        }
        return true;
    }
    bool closeFile() {
        if (fd_ < 0)
            return true;
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }
    // Renames the finished file to `target`; afterwards the object owns nothing.
    bool moveTo(const fs::path& target) {
        if (!closeFile())
            return false;
        std::error_code ec;
        fs::rename(path_, target, ec);
        if (ec)
            return false;
        path_.clear();
        return true;
    }

private:
    int fd_ = -1;
    fs::path path_;
};

// Streams the current entry to `target` through a temporary file; `budget` is what may
// still be written. At most the entry's declared size is read, and the entry counts as read
// whole only when exactly that many bytes came out of it and their CRC matches the recorded
// one. The CRC is computed here: the zip library compares it only when its own idea of the
// size is right, which it is not for sizes kept in the zip64 field. Anything else fails, and
// neither the target nor the temporary file is left.
bool extractCurrent(unzFile zip, const Entry& entry, const fs::path& target, std::uint64_t& budget,
                    std::string& why) {
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        why = "entry cannot be opened: " + entry.name;
        return false;
    }
    TemporaryFile temporary(target);
    bool ok = temporary.valid();
    if (!ok)
        why = "cannot write " + target.string();
    std::uint64_t total = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    std::vector<char> buffer(kReadChunk);
    while (ok && total < entry.size) {
        const auto want = static_cast<unsigned>(std::min<std::uint64_t>(buffer.size(), entry.size - total));
        const int read = unzReadCurrentFile(zip, buffer.data(), want);
        if (read < 0) {
            why = "damaged entry data: " + entry.name;
            ok = false;
            break;
        }
        if (read == 0)
            break;
        const auto count = static_cast<std::uint64_t>(read);
        if (count > budget) {
            why = "archive too large";
            ok = false;
            break;
        }
        budget -= count;
        total += count;
        crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(read));
        if (!temporary.write(buffer.data(), count)) {
            why = "cannot write " + target.string();
            ok = false;
        }
    }
    if (ok && total != entry.size) {
        why = "entry truncated (" + std::to_string(total) + " of " + std::to_string(entry.size) +
              " bytes): " + entry.name;
        ok = false;
    }
    // Closing the entry also compares the CRC where the zip library knows the size.
    const bool closed = unzCloseCurrentFile(zip) == UNZ_OK;
    if (ok && (!closed || static_cast<std::uint32_t>(crc) != entry.crc)) {
        why = "entry fails its CRC check: " + entry.name;
        ok = false;
    }
    if (ok && !temporary.moveTo(target)) {
        why = "cannot place " + target.string();
        ok = false;
    }
    return ok;
}

// The entries of `entries` that are unpacked, in archive order, into `root`.
bool extractAll(unzFile zip, const std::vector<Entry>& entries, const fs::path& root, const ZipLimits& limits,
                const std::function<bool(std::string_view)>& skip, ZipResult& result) {
    std::error_code ec;
    std::uint64_t budget = limits.maxTotalBytes;
    std::size_t index = 0;
    for (int status = unzGoToFirstFile(zip); index < entries.size(); status = unzGoToNextFile(zip), ++index) {
        if (status != UNZ_OK) {
            result.error = "damaged archive directory";
            return false;
        }
        const Entry& entry = entries[index];
        if (skip && skip(entry.name))
            continue;
        // Checked again now that earlier entries exist: a folder may not have become a link.
        auto target = platform::FileManager::pathInside(root, entry.relative);
        if (!target) {
            result.error = "entry outside the destination: " + entry.name;
            return false;
        }
        if (entry.isDirectory) {
            fs::create_directories(*target, ec);
            if (ec || !fs::is_directory(*target)) {
                result.error = "cannot create " + target->string();
                return false;
            }
            ++result.entriesWritten;
            continue;
        }
        fs::create_directories(target->parent_path(), ec);
        if (ec) {
            result.error = "cannot create " + target->parent_path().string();
            return false;
        }
        if (!extractCurrent(zip, entry, *target, budget, result.error))
            return false;
        ++result.entriesWritten;
    }
    return true;
}

// A fresh folder inside `parent`, removed with everything in it unless released.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& parent) {
        std::string pattern = (parent / ".staging-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~StagingFolder() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Makes the destination folder (and its parents) when missing and checks that the archive
// opened; the failure when either did not happen.
std::optional<ZipResult> prepare(const std::string& destination, const std::string& archivePath, const ZipFile& zip) {
    std::error_code ec;
    fs::create_directories(destination, ec);
    if (ec || !fs::is_directory(destination))
        return failure("cannot create " + destination);
    if (!zip.get())
        return failure("cannot open " + archivePath);
    return std::nullopt;
}

bool isUnderPrefix(const Entry& entry, std::string_view prefix) {
    const std::string_view name = entry.name;
    return name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix && name[prefix.size()] == '/';
}

} // namespace

ZipResult unpackZip(const std::string& archivePath, const std::string& destination, const ZipLimits& limits,
                    const std::function<bool(std::string_view)>& skip) {
    const fs::path root(destination);
    ZipFile zip(archivePath);
    if (auto failed = prepare(destination, archivePath, zip))
        return *failed;
    std::string why;
    auto entries = listEntries(zip.get(), root, limits, why);
    if (!entries)
        return failure(why);

    ZipResult result;
    if (!extractAll(zip.get(), *entries, root, limits, skip, result)) {
        result.entriesWritten = 0;
        return result;
    }
    result.ok = true;
    return result;
}

ZipResult unpackZipFolder(const std::string& archivePath, const std::string& destination, std::string_view folder,
                          const ZipLimits& limits, const std::function<bool(std::string_view)>& skip) {
    const auto component = platform::FileManager::safePathComponent(folder);
    if (!component || *component != folder)
        return failure("not a folder name: " + std::string(folder));
    const fs::path root(destination);
    ZipFile zip(archivePath);
    if (auto failed = prepare(destination, archivePath, zip))
        return *failed;
    StagingFolder staging(root);
    if (staging.path().empty())
        return failure("cannot create a staging folder in " + destination);
    std::string why;
    auto entries = listEntries(zip.get(), staging.path(), limits, why);
    if (!entries)
        return failure(why);
    for (const auto& entry : *entries)
        if (!(skip && skip(entry.name)) && !isUnderPrefix(entry, folder))
            return failure("entry outside the folder " + std::string(folder) + ": " + entry.name);

    ZipResult result;
    if (!extractAll(zip.get(), *entries, staging.path(), limits, skip, result)) {
        result.entriesWritten = 0;
        return result;
    }
    const fs::path unpacked = staging.path() / *component;
    std::error_code ec;
    if (!fs::is_directory(unpacked, ec))
        return failure("archive holds no folder " + *component);

    // Move the whole folder into place; what stood there before is set aside inside the
    // staging folder (where no entry can be) and removed with it. Only a folder is replaced:
    // a file or a link of that name belongs to someone else (a store, a journal) and stays.
    const fs::path target = root / *component;
    const fs::path previous = staging.path() / (*component + ".previous");
    const auto standing = fs::symlink_status(target, ec).type();
    if (standing != fs::file_type::not_found && standing != fs::file_type::directory)
        return failure("not a folder, left in place: " + target.string());
    const bool hadPrevious = standing == fs::file_type::directory;
    if (hadPrevious) {
        fs::rename(target, previous, ec);
        if (ec)
            return failure("cannot replace " + target.string());
    }
    fs::rename(unpacked, target, ec);
    if (ec) {
        if (hadPrevious) {
            std::error_code restore;
            fs::rename(previous, target, restore);
        }
        return failure("cannot place " + target.string());
    }
    result.ok = true;
    return result;
}

} // namespace archive
