#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/foundation/Numbers.h"
#include "platform/foundation/ProcessInfo.h"

namespace platform {
namespace {

// Longest single file name most file systems accept.
constexpr std::size_t kMaxNameBytes = 255;
constexpr const char* kBundleExtension = ".app";
constexpr std::size_t kWriteChunk = 1 << 20;
// The temporary of an atomic write is named "<file name>.tmp-<unique id>", the id drawn by
// ProcessInfo::globallyUniqueString; the sweep takes nothing else.
constexpr const char* kTemporaryInfix = ".tmp-";
// New names tried when a sweep removes a temporary before its writer could lock it.
constexpr int kTemporaryAttempts = 3;

bool fail(Error* error, int code, const std::filesystem::path& p, std::string_view what) {
    if (error) {
        error->domain = kPOSIXErrorDomain;
        error->code = code;
        error->localizedDescription = std::string(what) + " \"" + p.string() + "\": " + std::strerror(code);
        error->userInfo = Dictionary{{"path", Value(p.string())}};
    }
    return false;
}

bool fail(Error* error, const std::error_code& ec, const std::filesystem::path& p, std::string_view what) {
    return fail(error, ec.value() ? ec.value() : EIO, p, what);
}

// The components of `inner` below `root`, or nullopt when `inner` does not lie below it.
std::optional<std::filesystem::path> relativeBelow(const std::filesystem::path& inner,
                                                   const std::filesystem::path& root) {
    const auto normalRoot = root.lexically_normal();
    const auto rel = inner.lexically_normal().lexically_relative(normalRoot);
    if (root.empty() || rel.empty() || rel == "." || *rel.begin() == "..")
        return std::nullopt;
    return rel;
}

enum class ItemKind { Missing, Folder, Other };

ItemKind kindOf(const std::filesystem::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0)
        return errno == ENOENT ? ItemKind::Missing : ItemKind::Other;
    return S_ISDIR(st.st_mode) ? ItemKind::Folder : ItemKind::Other;
}

Date dateOf(const struct timespec& ts) {
    return Date{static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9};
}

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

bool FileManager::fileExists(const path& p, bool* isDirectory) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) {
        if (isDirectory)
            *isDirectory = false;
        return false;
    }
    if (isDirectory)
        *isDirectory = S_ISDIR(st.st_mode);
    return true;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectory(const path& p, Error* error) {
    std::error_code ec;
    std::filesystem::directory_iterator it(p, ec);
    if (ec) {
        fail(error, ec, p, "Cannot list the folder");
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        names.push_back(it->path().filename().string());
    }
    if (ec) {
        fail(error, ec, p, "Cannot list the folder");
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

FileAttributes attributesOf(const struct stat& st) {
    FileAttributes a;
    if (S_ISREG(st.st_mode))
        a.type = FileType::Regular;
    else if (S_ISDIR(st.st_mode))
        a.type = FileType::Directory;
    else if (S_ISLNK(st.st_mode))
        a.type = FileType::SymbolicLink;
    a.size = static_cast<std::uint64_t>(st.st_size);
    a.modificationDate = dateOf(st.st_mtim);
    a.permissions = st.st_mode & 07777;
    return a;
}

} // namespace

std::optional<FileAttributes> FileManager::attributesOfItem(const path& p, Error* error) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
        fail(error, errno, p, "Cannot read the attributes of");
        return std::nullopt;
    }
    return attributesOf(st);
}

std::optional<std::vector<DirectoryEntry>> FileManager::contentsOfDirectoryWithAttributes(const path& p,
                                                                                          Error* error) {
    // Each status is read relative to the open folder: no path is built per entry, and every
    // entry is looked up in the folder that was listed.
    int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail(error, errno, p, "Cannot list the folder");
        return std::nullopt;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        int code = errno;
        ::close(fd);
        fail(error, code, p, "Cannot list the folder");
        return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    int readError = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            readError = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        struct stat st {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // removed since the folder was read
        entries.push_back(DirectoryEntry{std::string(name), attributesOf(st)});
    }
    ::closedir(dir);
    if (readError != 0) {
        fail(error, readError, p, "Cannot list the folder");
        return std::nullopt;
    }
    return entries;
}

bool FileManager::setModificationDate(const path& p, Date date, Error* error) {
    double whole = std::floor(date.secondsSince1970);
    struct timespec times[2];
    times[0].tv_sec = saturatingCast<time_t>(whole);
    times[0].tv_nsec = std::isfinite(whole) ? saturatingCast<long>((date.secondsSince1970 - whole) * 1e9) : 0;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, p.c_str(), times, 0) != 0)
        return fail(error, errno, p, "Cannot set the dates of");
    return true;
}

std::optional<FileSystemAttributes> FileManager::attributesOfFileSystem(const path& p, Error* error) {
    struct statvfs fs {};
    if (::statvfs(p.c_str(), &fs) != 0) {
        fail(error, errno, p, "Cannot read the file system of");
        return std::nullopt;
    }
    FileSystemAttributes a;
    a.totalSize = static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
    a.freeSize = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
    return a;
}

bool FileManager::createDirectory(const path& p, bool intermediates, Error* error) {
    if (intermediates) {
        bool isDir = false;
        if (fileExists(p, &isDir))
            return isDir ? true : fail(error, EEXIST, p, "Cannot create the folder");
        std::error_code ec;
        std::filesystem::create_directories(p, ec);
        if (ec)
            return fail(error, ec, p, "Cannot create the folder");
        if (!fileExists(p, &isDir) || !isDir)
            return fail(error, EEXIST, p, "Cannot create the folder");
        return true;
    }
    if (::mkdir(p.c_str(), 0755) != 0)
        return fail(error, errno, p, "Cannot create the folder");
    return true;
}

bool FileManager::removeItem(const path& p, Error* error) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0)
        return fail(error, errno, p, "Cannot remove");
    std::error_code ec;
    std::filesystem::remove_all(p, ec);
    if (ec)
        return fail(error, ec, p, "Cannot remove");
    return true;
}

bool FileManager::moveItem(const path& from, const path& to, Error* error) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return fail(error, errno, from, "Cannot move");
    if (::lstat(to.c_str(), &st) == 0)
        return fail(error, EEXIST, to, "Cannot move onto");
    // renameat2 with RENAME_NOREPLACE would close the gap between the check and the rename,
    // but is not available on every file system; the gap only matters to concurrent writers.
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return fail(error, errno, from, "Cannot move");
    if (!copyItem(from, to, error))
        return false;
    return removeItem(from, error);
}

bool FileManager::copyItem(const path& from, const path& to, Error* error) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return fail(error, errno, from, "Cannot copy");
    if (::lstat(to.c_str(), &st) == 0)
        return fail(error, EEXIST, to, "Cannot copy onto");
    std::error_code ec;
    std::filesystem::copy(
        from, to, std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
        ec);
    if (ec)
        return fail(error, ec, from, "Cannot copy");
    return true;
}

std::optional<Data> FileManager::contentsAtPath(const path& p, std::uint64_t maxBytes, Error* error) {
    FileDescriptor file{::open(p.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        fail(error, errno, p, "Cannot read");
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        fail(error, errno, p, "Cannot read");
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        fail(error, EISDIR, p, "Cannot read");
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        fail(error, EFBIG, p, "Too large to read");
        return std::nullopt;
    }
    Data data;
    data.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(error, errno, p, "Cannot read");
            return std::nullopt;
        }
        if (n == 0)
            break;
        // The file may grow while it is read; the cap holds all the same.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes) {
            fail(error, EFBIG, p, "Too large to read");
            return std::nullopt;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

std::optional<std::string> FileManager::stringWithContentsOfFile(const path& p, std::uint64_t maxBytes,
                                                                 Error* error) {
    auto data = contentsAtPath(p, maxBytes, error);
    if (!data)
        return std::nullopt;
    return std::string(data->begin(), data->end());
}

bool FileManager::writeAtomically(const path& p, std::string_view bytes, Error* error) {
    removeStaleTemporaries(p);
    // A unique temporary name in the same folder, so that the rename stays on one file system.
    // The temporary is locked from its creation until it has been renamed: a sweep of stale
    // temporaries (removeStaleTemporaries) only takes the unlocked ones.
    path temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < kTemporaryAttempts && file.fd < 0; ++attempt) {
        temporary = p;
        temporary += kTemporaryInfix + ProcessInfo::globallyUniqueString();
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return fail(error, errno, p, "Cannot write");
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        // A sweep that came between the creation and the lock has removed the name: start over.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0)
            file.fd = fd;
        else
            ::close(fd);
    }
    if (file.fd < 0)
        return fail(error, EAGAIN, p, "Cannot write");
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t chunk = std::min(kWriteChunk, bytes.size() - done);
        ssize_t n = ::write(file.fd, bytes.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int code = errno;
            ::unlink(temporary.c_str());
            return fail(error, code, p, "Cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        return fail(error, code, p, "Cannot write");
    }
    // Renamed while still locked; the lock goes with the descriptor.
    if (::rename(temporary.c_str(), p.c_str()) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        return fail(error, code, p, "Cannot write");
    }
    return true;
}

std::size_t FileManager::removeStaleTemporaries(const path& p) {
    std::string prefix = p.filename().string() + kTemporaryInfix;
    if (prefix.size() == std::string_view(kTemporaryInfix).size())
        return 0;
    path folder = p.parent_path().empty() ? path(".") : p.parent_path();
    auto names = contentsOfDirectory(folder);
    if (!names)
        return 0;
    std::size_t removed = 0;
    for (const auto& name : *names) {
        // Only the writer's own form: a person's "<name>.tmp-notes.txt" shares the prefix.
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            !ProcessInfo::isGloballyUniqueString(std::string_view(name).substr(prefix.size())))
            continue;
        path candidate = folder / name;
        FileDescriptor temporary{::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
        struct stat st {};
        if (temporary.fd < 0 || ::fstat(temporary.fd, &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        // Locked: a writer is at work on it. Unlocked: its writer died before the rename.
        if (::flock(temporary.fd, LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::unlink(candidate.c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool FileManager::writeAtomically(const path& p, const Data& bytes, Error* error) {
    return writeAtomically(p, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           error);
}

std::string FileManager::displayName(const path& p) {
    path clean = p;
    if (clean.has_filename() == false && clean.has_parent_path())
        clean = clean.parent_path();
    std::string name = clean.filename().string();
    std::string_view ext(kBundleExtension);
    if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
        name.resize(name.size() - ext.size());
    return name;
}

std::optional<std::string> FileManager::safePathComponent(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes)
        return std::nullopt;
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return std::nullopt;
    return std::string(name);
}

std::optional<std::filesystem::path> FileManager::pathInside(const path& root, std::string_view relative) {
    if (relative.empty() || relative.find('\0') != std::string_view::npos)
        return std::nullopt;
    path rel(relative);
    if (rel.is_absolute() || rel.has_root_name())
        return std::nullopt;
    path normal = rel.lexically_normal();
    if (normal.empty() || *normal.begin() == ".." || normal == ".")
        return std::nullopt;
    path candidate = root / normal;
    // Links that already exist may point elsewhere: compare the real locations.
    std::error_code ec;
    path realRoot = std::filesystem::weakly_canonical(root, ec);
    if (ec)
        return std::nullopt;
    path realCandidate = std::filesystem::weakly_canonical(candidate, ec);
    if (ec)
        return std::nullopt;
    auto r = realRoot.begin();
    auto c = realCandidate.begin();
    for (; r != realRoot.end(); ++r, ++c) {
        if (r->empty() && std::next(r) == realRoot.end())
            break; // a trailing separator of the root
        if (c == realCandidate.end() || *r != *c)
            return std::nullopt;
    }
    if (c == realCandidate.end())
        return std::nullopt; // the root itself
    return candidate;
}

} // namespace platform

namespace platform {

bool FileManager::isRealFolder(const path& folder, const path& root) {
    const auto rel = relativeBelow(folder, root);
    if (!rel)
        return false;
    path at = root.lexically_normal();
    for (const auto& component : *rel) {
        if (component.empty())
            continue; // a trailing separator
        at /= component;
        if (kindOf(at) != ItemKind::Folder)
            return false;
    }
    return true;
}

bool FileManager::createRealFolder(const path& folder, const path& root, Error* error) {
    const auto rel = relativeBelow(folder, root);
    if (!rel)
        return fail(error, EINVAL, folder, "Cannot create the folder outside its root");
    path at = root.lexically_normal();
    for (const auto& component : *rel) {
        if (component.empty())
            continue;
        at /= component;
        switch (kindOf(at)) {
        case ItemKind::Folder: continue;
        case ItemKind::Other: return fail(error, ENOTDIR, at, "Not a folder of the app's own");
        case ItemKind::Missing:
            // mkdir never follows a link at the last name; a link made in between is seen below.
            if (::mkdir(at.c_str(), 0755) != 0 && errno != EEXIST)
                return fail(error, errno, at, "Cannot create the folder");
            if (kindOf(at) != ItemKind::Folder)
                return fail(error, ENOTDIR, at, "Not a folder of the app's own");
        }
    }
    return true;
}

bool FileManager::isReachedWithoutLinks(const path& item, const path& root) {
    const auto rel = relativeBelow(item, root);
    if (!rel)
        return false;
    path at = root.lexically_normal();
    const auto last = std::prev(rel->end());
    for (auto it = rel->begin(); it != last; ++it) {
        if (it->empty())
            continue;
        at /= *it;
        switch (kindOf(at)) {
        case ItemKind::Folder: continue;
        case ItemKind::Missing: return true; // nothing further down exists yet
        case ItemKind::Other: return false;
        }
    }
    return true;
}

} // namespace platform
