#pragma once
// File operations on the real file system, with the platform file manager's behaviour:
// listing a folder, item attributes (size, dates, type), creating folders, removing, moving and
// copying items, reading and atomically writing whole files, and the file system's total and
// free space. Failures answer false or nullopt and fill an Error (domain kPOSIXErrorDomain,
// code errno, a readable description naming the path) when one is asked for.
//
// Also the guards that keep names from outside inside their folders: safePathComponent() turns
// an outside name into one path component or refuses it, and pathInside() resolves a relative
// path under a root folder or refuses it when it would leave the root. And the guard of the
// folders the app writes or deletes under: isRealFolder() and createRealFolder() accept a folder
// only when no link and no file stands at its name or at a parent's below a root.
//
// Stateless; every function is safe from any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace platform {

inline constexpr const char* kPOSIXErrorDomain = "POSIXErrorDomain";

enum class FileType { Regular, Directory, SymbolicLink, Other };

struct FileAttributes {
    FileType type = FileType::Other;
    std::uint64_t size = 0;
    Date modificationDate;
    // Permission bits (the low 12 bits of the mode).
    unsigned permissions = 0;
};

// One entry of a folder with its attributes, as contentsOfDirectoryWithAttributes reads them.
struct DirectoryEntry {
    std::string name;
    FileAttributes attributes;
};

struct FileSystemAttributes {
    std::uint64_t totalSize = 0;
    std::uint64_t freeSize = 0; // available to this process
};

class FileManager {
  public:
    using path = std::filesystem::path;

    // Reads larger than this fail unless the caller asks for another cap.
    static constexpr std::uint64_t kDefaultMaxReadBytes = 64ull * 1024 * 1024;

    static bool fileExists(const path& p, bool* isDirectory = nullptr);
    // Names in the folder (not recursive, hidden ones included, "." and ".." left out), sorted
    // by byte value so the order does not depend on the file system.
    static std::optional<std::vector<std::string>> contentsOfDirectory(const path& p, Error* error = nullptr);
    // Attributes of the item itself (a symbolic link is not followed).
    static std::optional<FileAttributes> attributesOfItem(const path& p, Error* error = nullptr);
    // The folder's entries, each with the attributes attributesOfItem gives for it, read in
    // one pass over the open folder (in the order the file system gives, not sorted): the
    // names of contentsOfDirectory less those removed before their attributes were read.
    // nullopt when the folder cannot be read to the end.
    static std::optional<std::vector<DirectoryEntry>> contentsOfDirectoryWithAttributes(const path& p,
                                                                                        Error* error = nullptr);
    // Sets access and modification times (whole seconds are enough for every caller).
    static bool setModificationDate(const path& p, Date date, Error* error = nullptr);
    static std::optional<FileSystemAttributes> attributesOfFileSystem(const path& p, Error* error = nullptr);

    // With `intermediates`, missing parents are made and an existing folder is success;
    // without, the parent must exist and the folder must not.
    static bool createDirectory(const path& p, bool intermediates, Error* error = nullptr);
    // Removes a file, a link or a whole folder tree. A missing item is an error.
    static bool removeItem(const path& p, Error* error = nullptr);
    // Fail when the destination exists, as the platform's do.
    static bool moveItem(const path& from, const path& to, Error* error = nullptr);
    static bool copyItem(const path& from, const path& to, Error* error = nullptr);

    // The whole file; fails when it is larger than `maxBytes`.
    static std::optional<Data> contentsAtPath(const path& p, std::uint64_t maxBytes = kDefaultMaxReadBytes,
                                              Error* error = nullptr);
    static std::optional<std::string> stringWithContentsOfFile(const path& p,
                                                               std::uint64_t maxBytes = kDefaultMaxReadBytes,
                                                               Error* error = nullptr);
    // Writes to a temporary file beside `p`, flushes it to the disk and renames it over `p`,
    // so readers see the old content or the new, never a part. The folder must exist. The
    // temporary is locked by its writer until the rename (see removeStaleTemporaries).
    static bool writeAtomically(const path& p, std::string_view bytes, Error* error = nullptr);
    static bool writeAtomically(const path& p, const Data& bytes, Error* error = nullptr);
    // Removes the temporaries that atomic writes of `p` left behind when their process died
    // mid-write ("<name>.tmp-<id>" beside `p`, <id> exactly one identifier of the form
    // ProcessInfo::globallyUniqueString draws; any other name, such as a person's
    // "<name>.tmp-notes.txt", stays), and answers how many went. A temporary that a
    // live writer is still filling is locked and stays. writeAtomically runs this first; the
    // readers of files that may not be written again soon (preferences) run it when they open
    // the file.
    static std::size_t removeStaleTemporaries(const path& p);

    // The name to show for an item: its last path component, without the extension for an
    // application bundle folder ("Ferrowick.app" shows as "Ferrowick").
    static std::string displayName(const path& p);

    // `name` as a single path component, or nullopt when it is empty, ".", "..", holds "/" or
    // "\\" or a NUL byte, or is longer than a file name may be.
    static std::optional<std::string> safePathComponent(std::string_view name);
    // `root` / `relative` when that stays inside `root` (after resolving ".." and any symbolic
    // links that already exist); nullopt for absolute paths, escapes and empty paths.
    static std::optional<path> pathInside(const path& root, std::string_view relative);

    // Whether `folder` is a real folder below `root`: it and every folder between it and `root`
    // exist as folders, none of them a symbolic link, checked without following any link (the
    // root itself is taken as given). A folder that does not lie below `root` answers false.
    // A folder the app writes or deletes under is used only when this holds, so a link that a
    // person (or anyone) put at its name, or at a parent's, never leads the app's writes and
    // deletions into a folder that is not its own.
    static bool isRealFolder(const path& folder, const path& root);
    // Makes the missing folders between `root` and `folder` one at a time, never through a link,
    // and answers isRealFolder(folder, root). A link or a file at any name on the way is left
    // alone and answers false.
    static bool createRealFolder(const path& folder, const path& root, Error* error = nullptr);
    // Whether every folder that already exists between `root` and `item` (`item` itself not
    // included) is a real folder: a write or deletion of `item` reaches no folder through a link.
    // Folders still missing count as real, since createRealFolder would make them so.
    static bool isReachedWithoutLinks(const path& item, const path& root);
};

} // namespace platform
