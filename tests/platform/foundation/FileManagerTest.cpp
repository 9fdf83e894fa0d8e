#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "support/TemporaryHome.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

class FileManagerTest : public ::testing::Test {
  protected:
    fwtest::TemporaryHome home;
    fs::path docs = home.root() / "Documents";

    void write(const fs::path& p, std::string_view text) {
        ASSERT_TRUE(FileManager::writeAtomically(p, text));
    }
};

} // namespace

TEST_F(FileManagerTest, ListsAttributesAndDates) {
    write(docs / "b.txt", "hello");
    write(docs / ".hidden", "");
    ASSERT_TRUE(FileManager::createDirectory(docs / "CB", false));
    EXPECT_EQ(FileManager::contentsOfDirectory(docs), (std::vector<std::string>{".hidden", "CB", "b.txt"}));

    auto file = FileManager::attributesOfItem(docs / "b.txt");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->type, FileType::Regular);
    EXPECT_EQ(file->size, 5u);
    EXPECT_EQ(FileManager::attributesOfItem(docs / "CB")->type, FileType::Directory);

    ASSERT_TRUE(FileManager::setModificationDate(docs / "b.txt", Date{784111777}));
    EXPECT_EQ(FileManager::attributesOfItem(docs / "b.txt")->modificationDate, Date{784111777});

    bool isDir = true;
    EXPECT_TRUE(FileManager::fileExists(docs / "b.txt", &isDir));
    EXPECT_FALSE(isDir);
    EXPECT_TRUE(FileManager::fileExists(docs / "CB", &isDir));
    EXPECT_TRUE(isDir);
    EXPECT_FALSE(FileManager::fileExists(docs / "nope", &isDir));

    auto space = FileManager::attributesOfFileSystem(docs);
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalSize, 0u);
    EXPECT_LE(space->freeSize, space->totalSize);
}

TEST_F(FileManagerTest, FailuresCarryAnErrorNamingThePath) {
    struct Case {
        const char* what;
        std::function<bool(Error*)> call;
        int code;
    };
    write(docs / "exists.txt", "x");
    const Case cases[] = {
        {"list a missing folder",
         [&](Error* e) { return FileManager::contentsOfDirectory(docs / "none", e).has_value(); }, ENOENT},
        {"attributes of nothing",
         [&](Error* e) { return FileManager::attributesOfItem(docs / "none", e).has_value(); }, ENOENT},
        {"remove nothing", [&](Error* e) { return FileManager::removeItem(docs / "none", e); }, ENOENT},
        {"mkdir without parent",
         [&](Error* e) { return FileManager::createDirectory(docs / "a" / "b", false, e); }, ENOENT},
        {"mkdir over a file",
         [&](Error* e) { return FileManager::createDirectory(docs / "exists.txt", true, e); }, EEXIST},
        {"move onto a file",
         [&](Error* e) { return FileManager::moveItem(docs / "exists.txt", docs / "exists.txt", e); },
         EEXIST},
        {"copy nothing", [&](Error* e) { return FileManager::copyItem(docs / "none", docs / "x", e); },
         ENOENT},
        {"read a folder", [&](Error* e) { return FileManager::contentsAtPath(docs, 100, e).has_value(); },
         EISDIR},
        {"read past the cap",
         [&](Error* e) { return FileManager::contentsAtPath(docs / "exists.txt", 0, e).has_value(); }, EFBIG},
        {"write into a missing folder",
         [&](Error* e) { return FileManager::writeAtomically(docs / "no" / "f", std::string_view("x"), e); },
         ENOENT},
    };
    for (const auto& c : cases) {
        Error error;
        EXPECT_FALSE(c.call(&error)) << c.what;
        EXPECT_EQ(error.domain, kPOSIXErrorDomain) << c.what;
        EXPECT_EQ(error.code, c.code) << c.what;
        EXPECT_NE(error.localizedDescription.find(docs.string()), std::string::npos) << c.what;
        EXPECT_TRUE(c.call(nullptr) == false) << c.what; // no error object needed
    }
}

TEST_F(FileManagerTest, MoveCopyRemoveTrees) {
    ASSERT_TRUE(FileManager::createDirectory(docs / "CB" / "scripts", true));
    ASSERT_TRUE(FileManager::createDirectory(docs / "CB" / "scripts", true)); // existing: fine
    write(docs / "CB" / "scripts" / "a.js", "code");
    ASSERT_TRUE(FileManager::copyItem(docs / "CB", docs / "CB2"));
    EXPECT_EQ(FileManager::stringWithContentsOfFile(docs / "CB2" / "scripts" / "a.js"), "code");
    ASSERT_TRUE(FileManager::moveItem(docs / "CB2", docs / "CB3"));
    EXPECT_FALSE(FileManager::fileExists(docs / "CB2"));
    EXPECT_FALSE(FileManager::moveItem(docs / "CB", docs / "CB3")); // destination exists
    ASSERT_TRUE(FileManager::removeItem(docs / "CB3"));
    EXPECT_FALSE(FileManager::fileExists(docs / "CB3"));
    EXPECT_TRUE(FileManager::fileExists(docs / "CB" / "scripts" / "a.js"));
}

TEST_F(FileManagerTest, AtomicWritesReplaceWholeFiles) {
    write(docs / "f", "first version, longer");
    write(docs / "f", "second");
    EXPECT_EQ(FileManager::stringWithContentsOfFile(docs / "f"), "second");
    std::string big(3 * 1024 * 1024 + 7, 'z');
    write(docs / "big", big);
    EXPECT_EQ(FileManager::contentsAtPath(docs / "big")->size(), big.size());
    EXPECT_EQ(FileManager::contentsOfDirectory(docs)->size(), 2u); // no temporary files left
    write(docs / "empty", "");
    EXPECT_EQ(FileManager::contentsAtPath(docs / "empty")->size(), 0u);
}

// The sweep of stale temporaries takes only names of exactly the writer's form: a person's
// files that merely begin with "<name>.tmp-" stay, byte for byte.
TEST_F(FileManagerTest, SweepTakesOnlyTheWritersOwnTemporaries) {
    const fs::path file = docs / "savedData.plist";
    write(file, "<plist/>");
    // An identifier of the writer's form, and the same in lower case.
    const std::string id = "68753A44-4D6F-4226-9C60-0050E4C00067";
    const std::string lower = "68753a44-4d6f-4226-9c60-0050e4c00067";
    struct Row {
        std::string name;
        bool swept;
    };
    const Row rows[] = {
        {"savedData.plist.tmp-" + id, true},
        {"savedData.plist.tmp-" + ProcessInfo::globallyUniqueString(), true},
        {"savedData.plist.tmp-notes.txt", false},
        {"savedData.plist.tmp-2024 report.doc", false},
        {"savedData.plist.tmp-" + id + ".doc", false},                            // an identifier and more
        {"savedData.plist.tmp-" + id + id, false},                                // two identifiers
        {"savedData.plist.tmp-" + id.substr(0, 35), false},                       // one digit short
        {"savedData.plist.tmp-x" + id.substr(1), false},                          // not a digit
        {"savedData.plist.tmp-" + lower, false},                                  // not the writer's case
        {"savedData.plist.tmp-" + id.substr(0, 14) + "1" + id.substr(15), false}, // another version
        {"savedData.plist.tmp-5F0C1D2E", false},
        {"savedData.plist.tmp-", false},
    };
    for (const auto& row : rows)
        write(docs / row.name, "a person's " + row.name);

    EXPECT_EQ(FileManager::removeStaleTemporaries(file), 2u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.swept) {
            EXPECT_FALSE(FileManager::fileExists(docs / row.name));
        } else {
            EXPECT_EQ(FileManager::stringWithContentsOfFile(docs / row.name), "a person's " + row.name);
        }
    }
    // Writing the file again sweeps nothing more.
    write(file, "<plist><array/></plist>");
    for (const auto& row : rows)
        EXPECT_EQ(FileManager::fileExists(docs / row.name), !row.swept) << row.name;
}

TEST_F(FileManagerTest, OutsideNamesStayInsideTheirFolder) {
    for (const char* bad : {"", ".", "..", "a/b", "../x", "a\\b", "/etc"})
        EXPECT_FALSE(FileManager::safePathComponent(bad)) << bad;
    EXPECT_FALSE(FileManager::safePathComponent(std::string(256, 'a')));
    EXPECT_FALSE(FileManager::safePathComponent(std::string_view("a\0b", 3)));
    EXPECT_EQ(FileManager::safePathComponent("ad-12.zip"), "ad-12.zip");
    EXPECT_EQ(FileManager::safePathComponent("..hidden"), "..hidden");

    fs::path root = docs / "CB";
    ASSERT_TRUE(FileManager::createDirectory(root / "content", true));
    EXPECT_EQ(FileManager::pathInside(root, "content/ad/x.png"), root / "content/ad/x.png");
    EXPECT_EQ(FileManager::pathInside(root, "content/../y"), root / "y");
    for (const char* bad : {"", ".", "..", "../x", "content/../../x", "/etc/passwd", "a/../../b"})
        EXPECT_FALSE(FileManager::pathInside(root, bad)) << bad;
    // A link that already exists inside the root cannot lead out of it.
    fs::create_directory_symlink(home.root() / "Library", root / "link");
    EXPECT_FALSE(FileManager::pathInside(root, "link/Preferences/x.plist"));
    fs::create_directory_symlink(root / "content", root / "inner");
    EXPECT_TRUE(FileManager::pathInside(root, "inner/x"));
}

TEST(FileManager, DisplayNames) {
    EXPECT_EQ(FileManager::displayName("/apps/Ferrowick.app"), "Ferrowick");
    EXPECT_EQ(FileManager::displayName("/apps/Ferrowick.app/"), "Ferrowick");
    EXPECT_EQ(FileManager::displayName("/docs/report.pdf"), "report.pdf");
}

// A folder the app writes under is its own only when every name from the home down to it is a
// real folder: a link or a file at the folder's name or at a parent's stops it, and nothing is
// made behind the link.
TEST_F(FileManagerTest, OwnFoldersAreRealFoldersCheckedWithoutFollowingLinks) {
    const fs::path person = docs / "Holiday";
    const fs::path folder = docs / "CB" / "Config";
    struct Row {
        const char* what;
        std::function<void()> arrange;
        bool usable;
    };
    const Row rows[] = {
        {"nothing there yet", [] {}, true},
        {"a real folder", [&] { fs::create_directories(folder); }, true},
        {"a link at the folder's name", [&] {
             fs::create_directories(docs / "CB");
             fs::create_directory_symlink(person, folder);
         }, false},
        {"a link at a parent's name", [&] { fs::create_directory_symlink(person, docs / "CB"); }, false},
        {"a file at the folder's name", [&] {
             fs::create_directories(docs / "CB");
             write(folder, "the person's");
         }, false},
        {"a file at a parent's name", [&] { write(docs / "CB", "the person's"); }, false},
        {"a dangling link at the folder's name", [&] {
             fs::create_directories(docs / "CB");
             fs::create_directory_symlink(docs / "gone", folder);
         }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(docs / "CB");
        fs::remove_all(person);
        fs::create_directories(person);
        write(person / "photo.jpg", "the person's photo");
        row.arrange();
        Error error;
        EXPECT_EQ(FileManager::createRealFolder(folder, home.root(), &error), row.usable);
        EXPECT_EQ(FileManager::isRealFolder(folder, home.root()), row.usable);
        EXPECT_EQ(DeviceHome::isOwnFolder(folder), row.usable);
        EXPECT_EQ(DeviceHome::makeOwnFolder(folder), row.usable);
        if (!row.usable) {
            EXPECT_EQ(error.code, ENOTDIR) << error.localizedDescription;
            EXPECT_FALSE(DeviceHome::reachesWithoutLinks(folder / "x" / "file.js"));
        } else {
            EXPECT_TRUE(DeviceHome::reachesWithoutLinks(folder / "x" / "file.js"));
        }
        // Nothing was made behind a link: the person's folder holds only their photo.
        EXPECT_EQ(FileManager::contentsOfDirectory(person), std::vector<std::string>{"photo.jpg"});
        EXPECT_FALSE(fs::exists(docs / "gone"));
    }
    // The folder's own name may be a link when only an item inside it is checked: a write of
    // the item would pass through the link.
    fs::remove_all(docs / "CB");
    fs::create_directories(docs / "CB");
    fs::create_directory_symlink(person, folder);
    EXPECT_TRUE(DeviceHome::reachesWithoutLinks(folder));
    EXPECT_FALSE(DeviceHome::reachesWithoutLinks(folder / "display.js"));
    // Outside the root, and the root itself, are never a folder of its own.
    EXPECT_FALSE(FileManager::isRealFolder(home.root().parent_path(), home.root()));
    EXPECT_FALSE(FileManager::isRealFolder(home.root(), home.root()));
    EXPECT_FALSE(FileManager::createRealFolder(docs / ".." / ".." / "elsewhere", home.root()));
    EXPECT_FALSE(fs::exists(home.root().parent_path() / "elsewhere"));
}
