// The shared unpacker against real archives: what a good archive becomes on disk, and the
// damaged or oversized ones it must stop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "archive/ZipUnpacker.h"
#include "services/VellumAdEndpoints.h"
#include "support/TemporaryHome.h"
#include "support/ToolMadeArchives.h"

namespace {

namespace fs = std::filesystem;
using services::ZipEntry;

class ZipUnpackerTest : public ::testing::Test {
protected:
    fs::path write(const std::string& bytes) {
        const fs::path path = home.root() / "tmp" / ("a" + std::to_string(++count_) + ".zip");
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    fs::path archive(const std::vector<ZipEntry>& entries) {
        const std::string bytes = services::makeZipArchive(entries);
        EXPECT_FALSE(bytes.empty());
        return write(bytes);
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dest() const { return home.root() / "out"; }

    fwtest::TemporaryHome home;

private:
    int count_ = 0;
};

TEST_F(ZipUnpackerTest, EmptyFilesStayFilesAndLongNamesArriveWhole) {
    const std::string longName = "dir/" + std::string(200, 'n') + "/" + std::string(120, 'm') + ".txt";
    const auto result = archive::unpackZip(
        archive({{"img/", ""}, {"empty.txt", ""}, {longName, "long"}, {"skip/me", "x"}}).string(), dest().string(),
        {}, [](std::string_view name) { return name.substr(0, 5) == "skip/"; });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.entriesWritten, 3u);
    EXPECT_TRUE(fs::is_directory(dest() / "img"));
    EXPECT_TRUE(fs::is_regular_file(dest() / "empty.txt"));
    EXPECT_EQ(fs::file_size(dest() / "empty.txt"), 0u);
    EXPECT_EQ(read(dest() / longName), "long");
    EXPECT_FALSE(fs::exists(dest() / "skip"));
}

TEST_F(ZipUnpackerTest, DamagedDataFailsItsCheck) {
    std::string bytes = services::makeZipArchive({{"a.txt", std::string(2000, 'a') + "tail"}});
    ASSERT_FALSE(bytes.empty());
    // Change the recorded CRC of the entry in its local header (offset 14) and in the central
    // directory (offset 16): the data no longer matches it.
    for (auto [signature, offset] : {std::pair{std::string("PK\x03\x04", 4), 14}, {std::string("PK\x01\x02", 4), 16}}) {
        const auto at = bytes.find(signature);
        ASSERT_NE(at, std::string::npos);
        bytes[at + offset] = static_cast<char>(bytes[at + offset] ^ 0x5a);
    }
    const auto result = archive::unpackZip(write(bytes).string(), dest().string());
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(fs::exists(dest() / "a.txt"));
    EXPECT_FALSE(fs::exists(dest() / "a.txt.unpacking"));

    // A cut archive is no archive at all.
    EXPECT_FALSE(archive::unpackZip(write(bytes.substr(0, bytes.size() / 2)).string(), dest().string()).ok);
}

// Sets the declared uncompressed size of the archive's first entry, in its local header
// (offset 22) and in the central directory (offset 24), so both agree.
void declareSize(std::string& bytes, std::uint32_t size) {
    for (auto [signature, offset] : {std::pair{std::string("PK\x03\x04", 4), 22}, {std::string("PK\x01\x02", 4), 24}}) {
        const auto at = bytes.find(signature);
        ASSERT_NE(at, std::string::npos);
        for (int i = 0; i < 4; ++i)
            bytes[at + offset + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    }
}

TEST_F(ZipUnpackerTest, EntryWithOtherThanItsDeclaredSizeFails) {
    // The entry's compressed data is whole and ends early: it gives fewer (or more) bytes than
    // the archive declares, and its CRC no longer covers what it declares.
    const std::string content = std::string(3000, 'a') + "tail";
    struct Case {
        const char* name;
        std::uint32_t declared;
        const char* reason;
    };
    const Case cases[] = {
        {"truncated", static_cast<std::uint32_t>(content.size()) + 1000, "truncated"},
        // Reading stops at the declared size; the CRC of the shorter data then fails.
        {"longer", static_cast<std::uint32_t>(content.size()) - 4, "CRC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The damaged entry goes first; the good one after it is never reached.
        std::string bytes = services::makeZipArchive({{"a.txt", content}, {"ok.txt", "fine"}});
        ASSERT_FALSE(bytes.empty());
        declareSize(bytes, c.declared);
        fs::remove_all(dest());
        const auto result = archive::unpackZip(write(bytes).string(), dest().string());
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("a.txt"), std::string::npos) << result.error;
        // Neither the entry nor a temporary file is left.
        EXPECT_TRUE(fs::is_empty(dest()));

        fs::remove_all(dest());
        EXPECT_FALSE(archive::unpackZipFolder(write(bytes).string(), dest().string(), "a.txt").ok);
    }
}

TEST_F(ZipUnpackerTest, EntriesNamedLikeTemporaryFilesSurvive) {
    const auto result = archive::unpackZip(
        archive({{"x.unpacking", "first"}, {"x", "second"}, {".unpacking-AAAAAA", "third"}, {"y", "fourth"}})
            .string(),
        dest().string());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(read(dest() / "x.unpacking"), "first");
    EXPECT_EQ(read(dest() / "x"), "second");
    EXPECT_EQ(read(dest() / ".unpacking-AAAAAA"), "third");
    EXPECT_EQ(read(dest() / "y"), "fourth");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator(dest()))
        ++files;
    EXPECT_EQ(files, 4u) << "no temporary file is left";
}

TEST_F(ZipUnpackerTest, FolderUnpackingReplacesOnlyItsFolderAndOnlyWhenWhole) {
    const auto setUp = [&] {
        fs::remove_all(dest());
        fs::create_directories(dest() / "ad");
        fs::create_directories(dest() / "other");
        std::ofstream(dest() / "ad" / "index.html") << "old page";
        std::ofstream(dest() / "ad" / "stale.png") << "stale";
        std::ofstream(dest() / "other" / "index.html") << "other page";
        std::ofstream(dest() / "store.sql") << "store";
    };
    const auto unchanged = [&] {
        EXPECT_EQ(read(dest() / "ad" / "index.html"), "old page");
        EXPECT_EQ(read(dest() / "other" / "index.html"), "other page");
        EXPECT_EQ(read(dest() / "store.sql"), "store");
        std::size_t items = 0;
        for ([[maybe_unused]] const auto& item : fs::directory_iterator(dest()))
            ++items;
        EXPECT_EQ(items, 3u) << "no staging folder is left";
    };

    setUp();
    auto result = archive::unpackZipFolder(
        archive({{"ad/", ""}, {"ad/index.html", "new page"}, {"meta/ad/x", "skipped"}}).string(), dest().string(),
        "ad", {}, [](std::string_view name) { return name.substr(0, 5) == "meta/"; });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(read(dest() / "ad" / "index.html"), "new page");
    EXPECT_FALSE(fs::exists(dest() / "ad" / "stale.png")) << "the folder is replaced whole";
    EXPECT_FALSE(fs::exists(dest() / "meta"));
    EXPECT_EQ(read(dest() / "other" / "index.html"), "other page");
    EXPECT_EQ(read(dest() / "store.sql"), "store");

    std::string cut = services::makeZipArchive({{"ad/index.html", "new page"}, {"ad/big.txt", std::string(500, 'b')}});
    // Declares more bytes for the first entry than it holds.
    declareSize(cut, 4000);
    struct Case {
        const char* name;
        fs::path archive;
        std::string folder;
    };
    const Case cases[] = {
        {"another ad's folder", archive({{"ad/index.html", "evil"}, {"other/index.html", "evil"}}), "ad"},
        {"the store beside the folders", archive({{"ad/index.html", "evil"}, {"store.sql", "evil"}}), "ad"},
        {"a file named as the folder", archive({{"ad", "evil"}}), "ad"},
        {"a folder in place of the store", archive({{"store.sql/index.html", "evil"}}), "store.sql"},
        {"no folder at all", archive({{"elsewhere/index.html", "x"}}), "ad"},
        {"escape through the folder", archive({{"ad/../other/index.html", "evil"}}), "ad"},
        {"truncated entry after a good one", write(cut), "ad"},
        {"folder name that is a path", archive({{"ad/index.html", "x"}}), "../ad"},
        {"empty folder name", archive({{"ad/index.html", "x"}}), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setUp();
        result = archive::unpackZipFolder(c.archive.string(), dest().string(), c.folder);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        unchanged();
    }
    // A link where the folder goes is left as it is, and so is what it points to.
    setUp();
    fs::create_symlink("other", dest() / "linked");
    result = archive::unpackZipFolder(archive({{"linked/index.html", "evil"}}).string(), dest().string(),
                                      "linked");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(fs::is_symlink(dest() / "linked"));
    EXPECT_EQ(read(dest() / "other" / "index.html"), "other page");
}

// Archives that once got past the unpacker, kept as files (the fuzz corpus holds copies).
TEST_F(ZipUnpackerTest, KeptRegressionArchives) {
    const char* source = std::getenv("FW_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "FW_SOURCE_DIR names the source tree (ctest sets it)";
    const fs::path folder = fs::path(source) / "tests" / "archive" / "regressions";
    const auto copy = [&](const char* name) {
        std::ifstream in(folder / name, std::ios::binary);
        EXPECT_TRUE(in) << name;
        std::stringstream bytes;
        bytes << in.rdbuf();
        return write(bytes.str());
    };
    // Entries that give fewer bytes than they declare: a whole stream with a larger declared
    // size, and a deflate stream cut in half.
    for (const char* name : {"truncated-entry.zip", "cut-deflate-stream.zip"}) {
        SCOPED_TRACE(name);
        fs::remove_all(dest());
        const auto result = archive::unpackZip(copy(name).string(), dest().string());
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        // The cut entry's folder may have been made; no file is left, temporary or not.
        for (const auto& item : fs::recursive_directory_iterator(dest()))
            EXPECT_FALSE(item.is_regular_file()) << item.path();
    }
    // "x.unpacking" followed by "x": both arrive.
    fs::remove_all(dest());
    const auto result = archive::unpackZip(copy("temporary-name-entry.zip").string(), dest().string());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(read(dest() / "x.unpacking"), "first");
    EXPECT_EQ(read(dest() / "x"), "second");
}

std::string readSourceFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Every archive of the common tools unpacks whole, alone and as a bundle folder, except those
// the reader cannot read (a method it cannot decode, a compressed size it cannot follow),
// which are refused for that reason before anything is written.
TEST_F(ZipUnpackerTest, ArchivesMadeByCommonToolsUnpackOrAreRefusedWithTheReason) {
    for (const auto& made : fwtest::kToolMadeArchives) {
        SCOPED_TRACE(made.file);
        const fs::path archive = write(readSourceFile(fwtest::toolMadeArchivePath(made.file)));
        fs::remove_all(dest());
        auto result = archive::unpackZip(archive.string(), dest().string());
        if (made.refusal) {
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.error.find(made.refusal), std::string::npos) << result.error;
            EXPECT_NE(result.error.find("ad/pad.txt"), std::string::npos) << result.error;
            EXPECT_TRUE(fs::is_empty(dest()));
            EXPECT_FALSE(archive::unpackZipFolder(archive.string(), dest().string(), "ad").ok);
            EXPECT_TRUE(fs::is_empty(dest()));
            continue;
        }
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(read(dest() / "ad" / "pad.txt"), fwtest::kToolMadePad);
        if (made.hasPage) {
            EXPECT_EQ(read(dest() / "ad" / "index.html"), fwtest::kToolMadePage);
        }

        fs::remove_all(dest());
        result = archive::unpackZipFolder(archive.string(), dest().string(), "ad");
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(read(dest() / "ad" / "pad.txt"), fwtest::kToolMadePad);
    }
}

// The offset of the zip64 field's uncompressed size in the central-directory record of
// `name`, in an archive whose every zip64 field starts with that size.
std::size_t zip64SizeOffset(const std::string& bytes, const std::string& name) {
    for (auto at = bytes.find("PK\x01\x02"); at != std::string::npos; at = bytes.find("PK\x01\x02", at + 4)) {
        const auto field = [&](std::size_t offset) {
            return std::size_t(static_cast<unsigned char>(bytes[at + offset])) |
                   std::size_t(static_cast<unsigned char>(bytes[at + offset + 1])) << 8;
        };
        if (bytes.compare(at + 46, field(28), name) != 0)
            continue;
        for (std::size_t extra = at + 46 + field(28), end = extra + field(30); extra + 4 <= end;) {
            const std::size_t id = field(extra - at), length = field(extra - at + 2);
            if (id == 1)
                return extra + 4;
            extra += 4 + length;
        }
    }
    ADD_FAILURE() << "no zip64 field for " << name;
    return 0;
}

// Sizes kept in the zip64 field are the sizes the caps and the whole-entry checks work on:
// the archive of 333 bytes fits a cap of 333 and not one of 332, and an entry whose zip64
// size or CRC does not match its data fails like any other (the zip library does not compare
// the CRC of such an entry itself).
TEST_F(ZipUnpackerTest, Zip64SizesAreTheTrueSizes) {
    const std::string forced = readSourceFile(fwtest::toolMadeArchivePath("zip-forced-zip64.zip"));
    ASSERT_FALSE(forced.empty());
    const archive::ZipLimits defaults;
    auto result = archive::unpackZip(write(forced).string(), dest().string(), {defaults.maxEntries, 333});
    EXPECT_TRUE(result.ok) << result.error;
    fs::remove_all(dest());
    result = archive::unpackZip(write(forced).string(), dest().string(), {defaults.maxEntries, 332});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "archive too large");

    struct Case {
        const char* name;
        std::function<void(std::string&)> damage;
        const char* reason;
    };
    const auto setSize = [](std::string& bytes, std::uint64_t size) {
        const auto at = zip64SizeOffset(bytes, "ad/pad.txt");
        for (int i = 0; i < 8; ++i)
            bytes[at + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    };
    const Case cases[] = {
        {"declares more than its data", [&](std::string& b) { setSize(b, 302); },
         "truncated (301 of 302 bytes)"},
        {"declares less than its data", [&](std::string& b) { setSize(b, 300); }, "CRC"},
        {"declares more than any cap", [&](std::string& b) { setSize(b, ~std::uint64_t(0)); },
         "archive too large"},
        {"CRC of other data",
         [](std::string& b) {
             // The recorded CRC in the local header (offset 14) and the central directory
             // (offset 16), so that both still agree.
             for (auto [signature, offset] :
                  {std::pair{std::string("PK\x03\x04", 4), 14}, {std::string("PK\x01\x02", 4), 16}}) {
                 std::size_t at = b.find(signature);
                 for (int entry = 0; entry < 2; ++entry)
                     at = b.find(signature, at + 4); // the third entry, ad/pad.txt
                 b[at + offset] = static_cast<char>(b[at + offset] ^ 0x5a);
             }
         },
         "CRC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = forced;
        c.damage(bytes);
        fs::remove_all(dest());
        result = archive::unpackZip(write(bytes).string(), dest().string());
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        EXPECT_FALSE(fs::exists(dest() / "ad" / "pad.txt"));
    }
}

TEST_F(ZipUnpackerTest, CapsAndPathsAreEnforced) {
    struct Case {
        const char* name;
        std::vector<ZipEntry> entries;
        archive::ZipLimits limits;
    };
    const archive::ZipLimits defaults;
    const Case cases[] = {
        {"escape", {{"ok", "1"}, {"a/../../evil", "x"}}, defaults},
        {"absolute", {{"/tmp/fw-archive-evil", "x"}}, defaults},
        {"link", {{"l", "/etc/passwd", true}}, defaults},
        {"count", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, {2, defaults.maxTotalBytes}},
        {"bytes", {{"a", std::string(5000, 'z')}}, {defaults.maxEntries, 4096}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dest());
        const auto result = archive::unpackZip(archive(c.entries).string(), dest().string(), c.limits);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        EXPECT_TRUE(fs::is_empty(dest()));
        EXPECT_FALSE(fs::exists(home.root() / "evil"));
        EXPECT_FALSE(fs::exists("/tmp/fw-archive-evil"));
    }
}

} // namespace
