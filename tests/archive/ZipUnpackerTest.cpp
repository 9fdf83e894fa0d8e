// The shared unpacker against real archives: what a good archive becomes on disk, and the
// damaged or oversized ones it must stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/ZipUnpacker.h"
#include "services/VellumAdEndpoints.h"
#include "support/TemporaryHome.h"

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
