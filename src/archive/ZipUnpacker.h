#pragma once
// Unpacks a zip archive into a folder, for every library that downloads bundles of files
// (the rich-media ad and close-button bundles, the Cobalt scripts' content archives).
//
// The archive is checked whole before anything is written: every entry's name (read with its
// real length), links, the entry count, the declared sizes (taken from the zip64 field where
// the archive keeps them there) and the compression method (only stored and deflated entries
// can be read; any other is refused, naming the method). Then each entry is streamed
// through a temporary file beside its target (created exclusively under a fresh name, so it
// never takes the place of another entry) and renamed into place. The bytes actually written
// are counted against the cap too, so an archive that understates its sizes is stopped. An
// entry is read whole only when exactly its declared size came out of it and its CRC matches;
// a short, long or damaged entry fails the unpacking with its reason and leaves neither
// itself nor its temporary file. Every target stays inside the destination folder (no
// absolute names, no "..", no path through a link). An entry whose name ends in "/" is a
// folder; any other entry is a file, an empty one included.
//
// Stateless and safe from any thread; two unpackings into the same folder at once are the
// callers' business.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace archive {

// Caps on what one archive may unpack to.
struct ZipLimits {
    static constexpr std::size_t kDefaultMaxEntries = 2000;
    static constexpr std::uint64_t kDefaultMaxTotalBytes = 64ull * 1024 * 1024;
    std::size_t maxEntries = kDefaultMaxEntries;
    std::uint64_t maxTotalBytes = kDefaultMaxTotalBytes;
};

struct ZipResult {
    bool ok = false;
    // Why the unpacking failed, for the caller's log; empty on success.
    std::string error;
    // Files and folders made.
    std::size_t entriesWritten = 0;
};

// Entries for which `skip` answers true (by their name in the archive) are checked like the
// others but not unpacked. The destination folder is created when missing. On failure the
// entries unpacked before the failing one stay; a refused archive (found at the check)
// leaves nothing.
ZipResult unpackZip(const std::string& archivePath, const std::string& destination, const ZipLimits& limits = {},
                    const std::function<bool(std::string_view)>& skip = {});

// Unpacks the folder `folder` of the archive (a single path component) as
// `destination`/`folder`, all or nothing. Every entry that is not skipped must lie inside
// that folder ("<folder>/..."), or the archive is refused before anything is written. The
// entries are unpacked into a fresh staging folder inside `destination` (same file system),
// and only when every one was read whole is the unpacked folder moved into place, replacing
// the folder that stood there. A file or link of that name is never replaced: the archive is
// refused. On any failure, the destination is as it was before.
ZipResult unpackZipFolder(const std::string& archivePath, const std::string& destination, std::string_view folder,
                          const ZipLimits& limits = {}, const std::function<bool(std::string_view)>& skip = {});

} // namespace archive
