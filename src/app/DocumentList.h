#pragma once
// The document list's model: one listing of the Documents folder and the texts of its rows.
//
// A listing reads the folder's names once (not recursive, hidden files included) and keeps one
// DocumentFile per name, with the size, date and kind read for that name in the same pass, so
// a row's name, type label, size and date always describe the same file. The listing is sorted by name with
// `alphabeticSort`: descending while the sort switch is 0 (the default), ascending otherwise.
//
// The text helpers are pure functions; the root screen (RootViewController) fills its row
// columns with them. Nothing here touches the user interface, so the list can be built and
// measured on its own.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Value.h"

namespace app {

// The news panel's seen list, which lies among the user's files and gets its own label.
inline constexpr std::string_view kSavedDataFileName = "savedData.plist";
inline constexpr std::string_view kNoFileLabel = "No File";
// Labels of names that have no extension to show.
inline constexpr std::string_view kPlainFileLabel = "File";
inline constexpr std::string_view kFolderLabel = "Folder";
// Format of a row's modification date, in the device's time zone.
inline constexpr std::string_view kDocumentDatePattern = "yyyy-MM-dd HH:mm:ss ZZZ";

// One entry of the Documents folder, as read by one listing.
struct DocumentFile {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0; // the entry's own size attribute (a link is not followed)
    platform::Date modificationDate;
};

// "No File" for "savedData.plist"; otherwise the text between the first and the second dot in
// upper case followed by " File" ("song.mp3" → "MP3 File", "backup.tar.gz" → "TAR File").
// A name with nothing there ("notes", "notes.") is labelled "File", or "Folder" for a folder.
std::string typeLabel(std::string_view name, bool isDirectory);

// "%lld Bytes", then "%.1f KB", "%.1f MB", "%.1f GB" as the size passes 1023 bytes, 1024 KB and
// 1024 MB; each step starts from the truncated figure of the step before.
std::string sizeText(std::uint64_t bytes);

// The row's name line while extensions are hidden: "No File" for "savedData.plist", otherwise
// the part of the name before its first dot (the whole name when it has none, or when it
// starts with the dot, as hidden files do).
std::string nameWithoutExtension(std::string_view name);

// The comparator of the list: true when `a` is listed before `b`. With `reverseSort` 0 the
// order is descending (b.txt before A.txt), otherwise ascending; letters compare without regard
// to case. Names equal but for case keep a fixed order by their bytes.
bool alphabeticSort(std::string_view a, std::string_view b, int reverseSort);

// Reads `folder` once, sorted with alphabeticSort. An unreadable folder gives an empty
// listing; an entry that vanishes while it is read is left out.
std::vector<DocumentFile> listDocuments(const std::filesystem::path& folder, int reverseSort);

// Formats modification dates with kDocumentDatePattern in the zone it was made with.
class DocumentDateFormatter {
public:
    explicit DocumentDateFormatter(platform::TimeZone zone = platform::TimeZone::current());
    std::string operator()(platform::Date date) const { return formatter_.string(date); }
    // Writes the text over `text`, reusing its memory.
    void write(platform::Date date, std::string& text) const { formatter_.write(date, text); }

private:
    platform::DateFormatter formatter_;
};

} // namespace app
