// Unpacking of bundles with real zip archives made by the test: a good bundle with nested
// folders and packing-tool metadata, overwriting, and hostile archives that must leave
// nothing behind, inside or outside the destination.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "RichMediaFixture.h"
#include "services/VellumAdEndpoints.h"
#include "support/ToolMadeArchives.h"

namespace {

using services::ZipEntry;
using vellum::VellumAdServer;
namespace fs = std::filesystem;

class UnpackingTest : public richmediatest::RichMediaFixture {
public:
    fs::path writeArchive(const std::vector<ZipEntry>& entries) {
        const std::string bytes = services::makeZipArchive(entries);
        EXPECT_FALSE(bytes.empty());
        const fs::path path = home.root() / "tmp" / ("bundle" + std::to_string(++archives_) + ".zip");
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path destination() const { return home.root() / "Library" / "Vellum" / "MRAdCache"; }

private:
    int archives_ = 0;
};

TEST_F(UnpackingTest, GoodBundleUnpacksWithPathsAndWithoutMetadata) {
    fs::create_directories(destination() / "ad-1");
    std::ofstream(destination() / "ad-1" / "index.html") << "old";
    const auto archive = writeArchive({{"ad-1/", ""},
                                       {"ad-1/index.html", "new"},
                                       {"ad-1/images/a b.png", "PNG"},
                                       {"__MACOSX/ad-1/._index.html", "meta"}});
    ASSERT_TRUE(VellumAdServer::expandZipFileAtPath(archive, destination(), "ad-1"));
    EXPECT_EQ(read(destination() / "ad-1" / "index.html"), "new");
    EXPECT_EQ(read(destination() / "ad-1" / "images" / "a b.png"), "PNG");
    EXPECT_FALSE(fs::exists(destination() / "__MACOSX"));
}

TEST_F(UnpackingTest, HostileArchivesAreRefusedWhole) {
    struct Case {
        const char* name;
        std::vector<ZipEntry> entries;
        vellum::VellumZipLimits limits;
    };
    const vellum::VellumZipLimits defaults;
    std::vector<ZipEntry> many;
    for (int i = 0; i < 6; ++i)
        many.push_back({"ad/f" + std::to_string(i), "x"});
    const Case cases[] = {
        {"parent folder", {{"ad/ok.html", "ok"}, {"../evil", "evil"}}, defaults},
        {"parent inside a path", {{"ad/ok.html", "ok"}, {"ad/../../evil", "evil"}}, defaults},
        {"absolute path", {{"ad/ok.html", "ok"}, {"/tmp/fw-evil-absolute", "evil"}}, defaults},
        {"symbolic link", {{"ad/ok.html", "ok"}, {"ad/link", "/etc/passwd", true}}, defaults},
        {"too many entries", many, {5, defaults.maxTotalBytes}},
        {"another folder beside the ad's", {{"ad/ok.html", "ok"}, {"victim/index.html", "evil"}}, defaults},
        {"too many bytes",
         {{"ad/ok.html", "ok"}, {"ad/big.bin", std::string(4096, 'z')}},
         {defaults.maxEntries, 1024}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dest = home.root() / "Library" / "unpack" / "dest";
        fs::remove_all(dest.parent_path());
        EXPECT_FALSE(VellumAdServer::expandZipFileAtPath(writeArchive(c.entries), dest, "ad", c.limits));
        EXPECT_FALSE(fs::exists(dest / "ad")) << "nothing of a refused archive is unpacked";
        EXPECT_FALSE(fs::exists(dest.parent_path() / "evil"));
        EXPECT_FALSE(fs::exists("/tmp/fw-evil-absolute"));
    }
}

// Bundles packed by common zip tools arrive whole; those the reader cannot read leave nothing.
TEST_F(UnpackingTest, BundlesMadeByCommonToolsUnpack) {
    for (const auto& made : fwtest::kToolMadeArchives) {
        SCOPED_TRACE(made.file);
        fs::remove_all(destination());
        const fs::path archive = fwtest::toolMadeArchivePath(made.file);
        ASSERT_TRUE(fs::is_regular_file(archive)) << archive;
        EXPECT_EQ(VellumAdServer::expandZipFileAtPath(archive, destination(), "ad"), made.refusal == nullptr);
        if (made.refusal) {
            EXPECT_FALSE(fs::exists(destination() / "ad"));
            continue;
        }
        EXPECT_EQ(read(destination() / "ad" / "pad.txt"), fwtest::kToolMadePad);
        if (made.hasPage) {
            EXPECT_EQ(read(destination() / "ad" / "index.html"), fwtest::kToolMadePage);
        }
    }
}

TEST_F(UnpackingTest, ArchiveThatIsNoZipFails) {
    const fs::path path = home.root() / "tmp" / "not.zip";
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "<html>not found</html>";
    EXPECT_FALSE(VellumAdServer::expandZipFileAtPath(path, destination(), "ad-1"));
    EXPECT_FALSE(VellumAdServer::expandZipFileAtPath((home.root() / "missing.zip").string(), destination(), "ad-1"));
}

} // namespace
