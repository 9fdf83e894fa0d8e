// The document list's row texts and its one-pass listing of a folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/DocumentList.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/FileManager.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder that is removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "fw-doclist-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    void file(const std::string& name, std::size_t bytes, double mtime = 1'700'000'000) const {
        std::ofstream(path_ / name, std::ios::binary) << std::string(bytes, 'x');
        platform::FileManager::setModificationDate(path_ / name, platform::Date{mtime});
    }

private:
    fs::path path_;
};

std::vector<std::string> namesOf(const std::vector<app::DocumentFile>& files) {
    std::vector<std::string> names;
    for (const auto& f : files)
        names.push_back(f.name);
    return names;
}

TEST(DocumentList, SizesCrossEveryThreshold) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 Bytes"},
        {1, "1 Bytes"},
        {1023, "1023 Bytes"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1024.0 KB"}, // 1024 KB is not above 1024: still KB
        {1049599, "1025.0 KB"}, // rounds up in the text, truncates to 1024 for the next step
        {1049600, "1.0 MB"},    // 1025 KB
        {5 * 1048576 + 512 * 1024, "5.5 MB"},
        {1073741824, "1024.0 MB"}, // 1 GiB
        {1074790400, "1.0 GB"},    // 1025 MiB
        {5ull << 30, "5.0 GB"},
        {1ull << 40, "1024.0 GB"}, // no unit above GB
        {std::numeric_limits<std::uint64_t>::max(), "17179869184.0 GB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::sizeText(c.bytes), c.text) << c.bytes << " bytes";
}

TEST(DocumentList, TypeLabelsAndNameLines) {
    struct Case {
        const char* name;
        bool isDirectory;
        const char* label;
        const char* nameLine; // with extensions hidden
    };
    const Case cases[] = {
        {"song.mp3", false, "MP3 File", "song"},
        {"backup.tar.gz", false, "TAR File", "backup"},
        {"report.final.pdf", false, "FINAL File", "report"},
        {"Photo.JpEg", false, "JPEG File", "Photo"},
        {"savedData.plist", false, "No File", "No File"},
        {"SavedData.plist", false, "PLIST File", "SavedData"}, // only the exact name is the seen list
        {"notes", false, "File", "notes"},
        {"notes.", false, "File", "notes"},
        {"CB", true, "Folder", "CB"},
        {"photos.2023", true, "2023 File", "photos"},
        {".profile", false, "PROFILE File", ".profile"},
        {"a..b", false, "File", "a"},
        {"müsli.txt", false, "TXT File", "müsli"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::typeLabel(c.name, c.isDirectory), c.label) << c.name;
        EXPECT_EQ(app::nameWithoutExtension(c.name), c.nameLine) << c.name;
    }
}

TEST(DocumentList, DatesInTheDeviceTimeZone) {
    struct Case {
        int zoneSeconds;
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "1970-01-01 00:00:00 +0000"},
        {3600, 0, "1970-01-01 01:00:00 +0100"},
        {-5 * 3600, 1'700'000'000.75, "2023-11-14 17:13:20 -0500"},
        {19800, 951782400, "2000-02-29 05:30:00 +0530"},
    };
    for (const auto& c : cases) {
        platform::TimeZone::setCurrent(platform::TimeZone::fixed(c.zoneSeconds));
        EXPECT_EQ(app::DocumentDateFormatter()(platform::Date{c.seconds}), c.text);
    }
    platform::TimeZone::setCurrent(std::nullopt);
}

TEST(DocumentList, SortsByNameInBothDirectionsWithoutRegardToCase) {
    ScratchFolder folder;
    for (const char* name : {"a.txt", "B.pdf", "c.doc", "b.txt", "A.txt"})
        folder.file(name, 1);
    EXPECT_EQ(namesOf(app::listDocuments(folder.path(), 0)),
              (std::vector<std::string>{"c.doc", "b.txt", "B.pdf", "a.txt", "A.txt"}));
    EXPECT_EQ(namesOf(app::listDocuments(folder.path(), 1)),
              (std::vector<std::string>{"A.txt", "a.txt", "B.pdf", "b.txt", "c.doc"}));
    // Any non-zero switch sorts ascending.
    EXPECT_EQ(namesOf(app::listDocuments(folder.path(), -7)), namesOf(app::listDocuments(folder.path(), 1)));
}

TEST(DocumentList, OneRecordPerFileWithItsOwnAttributes) {
    ScratchFolder folder;
    folder.file("big.bin", 2048, 1'000'000'000);
    folder.file(".hidden", 3, 1'100'000'000);
    folder.file("empty", 0, 1'200'000'000);
    fs::create_directory(folder.path() / "CB");

    auto files = app::listDocuments(folder.path(), 1);
    ASSERT_EQ(namesOf(files), (std::vector<std::string>{".hidden", "big.bin", "CB", "empty"}));
    EXPECT_EQ(files[0].size, 3u);
    EXPECT_EQ(files[0].modificationDate.secondsSince1970, 1'100'000'000);
    EXPECT_EQ(files[1].size, 2048u);
    EXPECT_EQ(files[1].modificationDate.secondsSince1970, 1'000'000'000);
    EXPECT_TRUE(files[2].isDirectory);
    EXPECT_FALSE(files[1].isDirectory);
    EXPECT_EQ(files[3].size, 0u);
    EXPECT_EQ(files[3].modificationDate.secondsSince1970, 1'200'000'000);
}

// One row as the plain way computes it: the folder's names from the standard library's
// iterator, each looked up by its whole path without following links, sorted with the
// list's comparator, and the size written step by step with printf.
struct PlainRow {
    std::string name;
    bool isDirectory;
    std::uint64_t size;
    double modified;
    std::string sizeText;
    bool operator==(const PlainRow&) const = default;
};

std::string plainSizeText(std::uint64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu Bytes", static_cast<unsigned long long>(bytes));
    const char* formats[] = {"%.1f KB", "%.1f MB", "%.1f GB"};
    const std::uint64_t thresholds[] = {1023, 1024, 1024};
    std::uint64_t whole = bytes;
    for (int i = 0; i < 3 && whole > thresholds[i]; ++i) {
        float figure = static_cast<float>(whole) / 1024.0f;
        std::snprintf(text, sizeof text, formats[i], static_cast<double>(figure));
        whole = static_cast<std::uint64_t>(figure);
    }
    return text;
}

std::vector<PlainRow> plainRows(const fs::path& folder, int reverseSort) {
    std::vector<PlainRow> rows;
    for (const auto& entry : fs::directory_iterator(folder)) {
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0)
            continue;
        auto size = static_cast<std::uint64_t>(st.st_size);
        rows.push_back({entry.path().filename().string(), S_ISDIR(st.st_mode), size,
                        static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9,
                        plainSizeText(size)});
    }
    std::sort(rows.begin(), rows.end(), [&](const PlainRow& a, const PlainRow& b) {
        return app::alphabeticSort(a.name, b.name, reverseSort);
    });
    return rows;
}

std::vector<PlainRow> listedRows(const fs::path& folder, int reverseSort) {
    std::vector<PlainRow> rows;
    for (const auto& f : app::listDocuments(folder, reverseSort))
        rows.push_back({f.name, f.isDirectory, f.size, f.modificationDate.secondsSince1970, app::sizeText(f.size)});
    return rows;
}

TEST(DocumentList, ListsTheSameRowsAsThePlainWay) {
    ScratchFolder folder;
    const fs::path& root = folder.path();
    // Names that differ only by case, non-ASCII names (in both normal forms of "é"), hidden
    // files, the seen list, names with many dots or none, punctuation around the letters.
    for (const char* name : {"a.txt", "A.txt", "B.pdf", "b.TXT", "\xc3\x84rger.doc", "\xc3\xa9mile.mp3",
                             "e\xcc\x81mile.mp3", "\xe6\x97\xa5\xe6\x9c\xac.txt", "zebra", ".hidden",
                             ".profile.bak", "savedData.plist", "SavedData.plist", "report.final.v2.key", "notes.",
                             "_under", "~tilde", "0zero", "[bracket]",
                             // Long names alike in their first 16 bytes but for case.
                             "Quarterly-Report-2023-Final.pdf", "quarterly-report-2023-final.PDF",
                             "QUARTERLY-REPORT-2023", "quarterly-report", "Quarterly-Report", "quarterly-report-"})
        folder.file(name, 5, 1'600'000'000.25);
    fs::create_directory(root / "CB");
    fs::create_directory(root / "photos.2023");
    // Links are listed as links, never followed: to a file, to a folder, to nothing.
    fs::create_symlink(root / "a.txt", root / "link-to-file.txt");
    fs::create_symlink(root / "CB", root / "Link-to-folder");
    fs::create_symlink(root / "missing", root / "dangling.lnk");
    // Sizes on each side of every unit step (sparse files, nothing written).
    const std::uint64_t sizes[] = {0, 1023, 1024, 1048575, 1048576, 1049599, 1049600,
                                   1073741823, 1073741824, 1074790399, 1074790400, 5ull << 40};
    for (std::uint64_t size : sizes) {
        std::string name = "size-" + std::to_string(size) + ".bin";
        int fd = ::open((root / name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0) << name;
        ::close(fd);
    }

    for (int reverseSort : {0, 1}) {
        auto expected = plainRows(root, reverseSort);
        ASSERT_EQ(expected.size(), 25u + 2 + 3 + std::size(sizes));
        EXPECT_EQ(listedRows(root, reverseSort), expected) << "sort switch " << reverseSort;
    }
    auto rows = listedRows(root, 1);
    auto row = [&](const std::string& name) {
        return *std::find_if(rows.begin(), rows.end(), [&](const PlainRow& r) { return r.name == name; });
    };
    EXPECT_FALSE(row("Link-to-folder").isDirectory);
    EXPECT_EQ(row("link-to-file.txt").size, (root / "a.txt").string().size()) << "the link's own size";
    EXPECT_EQ(row("size-1049600.bin").sizeText, "1.0 MB");
}

TEST(DocumentList, UnreadableFolderGivesAnEmptyListing) {
    ScratchFolder folder;
    EXPECT_TRUE(app::listDocuments(folder.path() / "missing", 0).empty());
    folder.file("plain-file", 4);
    EXPECT_TRUE(app::listDocuments(folder.path() / "plain-file", 0).empty());
}

} // namespace
