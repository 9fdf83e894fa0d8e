// The root screen's document list as its rows show it, its switches and deletion, the first-run
// defaults, and the extras around the list.
#include "AppFixture.h"

#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/foundation/Strings.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Toolbar.h"
#include "promo/StorePage.h"

namespace apptest {
namespace {

using Names = std::vector<std::string>;

class RootScreen : public AppTest {
protected:
    // Launches past the (stand-in) launch pop-up.
    void start() {
        launch();
        clock_.drain();
    }
    void setSwitch(std::string_view key, bool on, std::string_view notification) {
        defaults().setBool(key, on);
        platform::NotificationCenter::defaultCenter().post(notification);
    }
};

TEST_F(RootScreen, FirstRunWritesTheDefaultsOnce) {
    start();
    EXPECT_TRUE(defaults().boolForKey("size"));
    EXPECT_TRUE(defaults().boolForKey("device"));
    EXPECT_TRUE(defaults().boolForKey("extension"));
    EXPECT_EQ(defaults().stringForKey("firstTime"), "noFirst");
}

TEST_F(RootScreen, LaterRunsKeepTheSwitches) {
    defaults().setString("firstTime", "noFirst");
    defaults().setBool("size", false);
    defaults().setBool("device", true);
    defaults().setBool("extension", false);
    start();
    EXPECT_FALSE(defaults().boolForKey("size"));
    EXPECT_FALSE(defaults().boolForKey("extension"));
}

TEST_F(RootScreen, RowsShowNameLabelDateAndSizeSortedBothWays) {
    addFile("a.txt", 10, 0);
    addFile("B.pdf", 2048, 86400);
    addFile("c.doc", 3 * 1048576 + 1049, 1'700'000'000);
    start();

    struct Row {
        const char* name;
        const char* label;
        const char* date;
        const char* size;
    };
    const Row descending[] = {
        {"c.doc", "DOC File", "2023-11-14 22:13:20 +0000", "3.0 MB"},
        {"B.pdf", "PDF File", "1970-01-02 00:00:00 +0000", "2.0 KB"},
        {"a.txt", "TXT File", "1970-01-01 00:00:00 +0000", "10 Bytes"},
    };
    ASSERT_EQ(root()->fileTable->numberOfRowsInSection(0), 3);
    for (int i = 0; i < 3; ++i) {
        auto row = rowTexts(i);
        EXPECT_EQ(row.name, descending[i].name);
        EXPECT_EQ(row.label, descending[i].label);
        EXPECT_EQ(row.date, descending[i].date);
        EXPECT_EQ(row.size, descending[i].size);
    }
    EXPECT_DOUBLE_EQ(root()->fileTable->rectForRowAtIndexPath({0, 1}).height(), 70);

    root()->sortArray();
    EXPECT_EQ(rowNames(), (Names{"a.txt", "B.pdf", "c.doc"}));
    EXPECT_EQ(rowTexts(0).size, "10 Bytes") << "sizes follow their files";
    root()->sortArray();
    EXPECT_EQ(rowNames(), (Names{"c.doc", "B.pdf", "a.txt"}));
}

TEST_F(RootScreen, ExtensionSwitchChangesNameLinesAndLabels) {
    addFile("report.final.pdf", 1);
    addFile("notes", 1);
    addFile("savedData.plist", 1);
    std::filesystem::create_directory(documents() / "CB");
    start();

    struct Expect {
        bool extensions;
        Names names;
        Names labels;
    };
    const Expect cases[] = {
        {true,
         {"savedData.plist", "report.final.pdf", "notes", "CB"},
         {"No File", "FINAL File", "File", "Folder"}},
        {false, {"No File", "report", "notes", "CB"}, {"", "", "", ""}},
        {true,
         {"savedData.plist", "report.final.pdf", "notes", "CB"},
         {"No File", "FINAL File", "File", "Folder"}},
    };
    for (const auto& c : cases) {
        setSwitch("extension", c.extensions, "fileExtension");
        EXPECT_EQ(rowNames(), c.names) << "extensions " << c.extensions;
        Names labels;
        for (int i = 0; i < static_cast<int>(c.names.size()); ++i)
            labels.push_back(rowTexts(i).label);
        EXPECT_EQ(labels, c.labels) << "extensions " << c.extensions;
    }
}

TEST_F(RootScreen, SizeSwitchEmptiesEverySizeLabel) {
    addFile("one.bin", 1500);
    addFile("two.bin", 15);
    start();
    setSwitch("size", false, "showFile");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(rowTexts(i).size, "");
        EXPECT_NE(rowTexts(i).date, "") << "the date stays";
    }
    setSwitch("size", true, "showFile");
    EXPECT_EQ(rowTexts(0).size, "15 Bytes");
    EXPECT_EQ(rowTexts(1).size, "1.5 KB");
}

TEST_F(RootScreen, DeviceSwitchHidesEveryRowUntilItIsOnAgain) {
    addFile("a.txt", 1);
    addFile("b.txt", 2);
    start();
    setSwitch("device", false, "showFile");
    EXPECT_EQ(root()->fileTable->numberOfRowsInSection(0), 0);
    addFile("c.txt", 3);
    root()->hideShowFileExtension(); // the refresh item
    setSwitch("extension", false, "fileExtension");
    EXPECT_EQ(root()->fileTable->numberOfRowsInSection(0), 0) << "rebuilds leave the rows hidden";
    setSwitch("device", true, "showFile");
    EXPECT_EQ(rowNames(), (Names{"c", "b", "a"}));
}

TEST_F(RootScreen, FilesHiddenAtLoadShowTheFirstListWithTheirOwnTexts) {
    defaults().setString("firstTime", "noFirst");
    defaults().setBool("size", true);
    defaults().setBool("extension", true);
    defaults().setBool("device", false);
    addFile("savedData.plist", 100);
    addFile("x.txt", 5);
    start();
    ASSERT_EQ(root()->fileTable->numberOfRowsInSection(0), 1);
    auto row = rowTexts(0);
    EXPECT_EQ(row.name, "x.txt");
    EXPECT_EQ(row.label, "TXT File");
    EXPECT_EQ(row.size, "5 Bytes");
}

TEST_F(RootScreen, DeletingARowWithExtensionsHiddenRemovesThatFile) {
    addFile("song.mp3", 5);
    addFile("song.wav", 7);
    addFile("zeta.txt", 9);
    start();
    setSwitch("extension", false, "fileExtension");
    ASSERT_EQ(rowNames(), (Names{"zeta", "song", "song"}));

    auto table = root()->fileTable;
    ASSERT_TRUE(table->swipeToDeleteRow({0, 1}));
    ASSERT_TRUE(table->confirmDeletion());
    EXPECT_FALSE(std::filesystem::exists(documents() / "song.wav"));
    EXPECT_TRUE(std::filesystem::exists(documents() / "song.mp3"));
    EXPECT_EQ(root()->fileCount, 2);
    EXPECT_EQ(rowNames(), (Names{"zeta", "song"}));
    EXPECT_EQ(rowTexts(0).size, "9 Bytes");
    EXPECT_EQ(rowTexts(1).size, "5 Bytes") << "the row below keeps its own size";
    bool faded = false;
    for (const auto& r : platform::AnimationLog::shared().records())
        faded |= r.kind == platform::AnimationKind::TableRows;
    EXPECT_TRUE(faded);
}

// A file removed behind the list's back (through file sharing) counts as deleted: its row goes
// without an alert, and the rows below keep their own figures.
TEST_F(RootScreen, DeletingAFileAlreadyGoneRemovesItsRowWithoutAnAlert) {
    addFile("keep.txt", 3);
    addFile("gone.txt", 4);
    addFile("above.txt", 5);
    start();
    ASSERT_EQ(rowNames(), (Names{"keep.txt", "gone.txt", "above.txt"}));
    std::filesystem::remove(documents() / "gone.txt");

    auto table = root()->fileTable;
    ASSERT_TRUE(table->swipeToDeleteRow({0, 1}));
    ASSERT_TRUE(table->confirmDeletion());
    EXPECT_EQ(rowNames(), (Names{"keep.txt", "above.txt"}));
    EXPECT_EQ(root()->fileCount, 2);
    EXPECT_EQ(rowTexts(1).size, "5 Bytes");
    EXPECT_TRUE(platform::Application::shared().visibleAlerts().empty());
    EXPECT_TRUE(std::filesystem::exists(documents() / "keep.txt"));
    EXPECT_TRUE(std::filesystem::exists(documents() / "above.txt"));
}

// A letter in a folder of the person's that cannot be removed: its folder is read-only, and
// for a privileged user (who removes it all the same) the letter is immutable too. Undone
// when the guard goes.
class Unremovable {
public:
    explicit Unremovable(const std::filesystem::path& letter) : letter_(letter) {
        namespace fs = std::filesystem;
        fs::permissions(letter.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
        if (::access(letter.parent_path().c_str(), W_OK) != 0) {
            held_ = true;
            return;
        }
        int fd = ::open(letter.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = held_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0)
            ::close(fd);
    }
    ~Unremovable() {
        if (immutable_) {
            int fd = ::open(letter_.c_str(), O_RDONLY | O_CLOEXEC);
            int flags = 0;
            if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0)
                ::close(fd);
        }
        std::filesystem::permissions(letter_.parent_path(), std::filesystem::perms::owner_all);
    }
    Unremovable(const Unremovable&) = delete;
    Unremovable& operator=(const Unremovable&) = delete;
    // Whether the letter cannot be removed by this user.
    bool held() const { return held_; }

private:
    std::filesystem::path letter_;
    bool held_ = false;
    bool immutable_ = false;
};

// A file that is there and cannot be removed keeps its row, and the person learns why.
TEST_F(RootScreen, FailedDeleteKeepsTheRowAndSaysWhy) {
    namespace fs = std::filesystem;
    addFile("keep.txt", 3);
    const fs::path letter = documents() / "Box" / "inner" / "letter.txt";
    fs::create_directories(letter.parent_path());
    std::ofstream(letter) << "dear";
    start();
    ASSERT_EQ(rowNames(), (Names{"keep.txt", "Box"}));
    {
        Unremovable guard(letter);
        if (!guard.held())
            GTEST_SKIP() << "this file system lets this user remove any file";

        auto table = root()->fileTable;
        ASSERT_TRUE(table->swipeToDeleteRow({0, 1}));
        ASSERT_TRUE(table->confirmDeletion());
        EXPECT_EQ(rowNames(), (Names{"keep.txt", "Box"}));
        EXPECT_EQ(root()->fileCount, 2);
        auto alerts = platform::Application::shared().visibleAlerts();
        ASSERT_EQ(alerts.size(), 1u);
        EXPECT_EQ(alerts[0]->title(), "Could not delete");
        EXPECT_NE(alerts[0]->message().find("Box"), std::string::npos);
        // It names the file, not the device's path to it.
        EXPECT_EQ(alerts[0]->message().find('/'), std::string::npos) << alerts[0]->message();
        EXPECT_TRUE(fs::exists(letter));
    }

    // The other row still deletes.
    auto table = root()->fileTable;
    ASSERT_TRUE(table->swipeToDeleteRow({0, 0}));
    ASSERT_TRUE(table->confirmDeletion());
    EXPECT_FALSE(fs::exists(documents() / "keep.txt"));
}

TEST_F(RootScreen, EditToggleSwitchesTheTableAndTheToolbarSpace) {
    start();
    auto r = root();
    ASSERT_EQ(r->toolBar->items().size(), 6u);
    EXPECT_EQ(r->toolBar->items()[0], r->refreshButton);
    EXPECT_EQ(r->toolBar->items()[5], r->editButton);
    EXPECT_EQ(r->editButton->customView(), r->pushNews->newsButton());
    EXPECT_DOUBLE_EQ(r->fixedHeight2->width(), 10);
    EXPECT_DOUBLE_EQ(r->fixedHeight->width(), 19);
    r->tableEdit();
    EXPECT_TRUE(r->fileTable->isEditing());
    EXPECT_DOUBLE_EQ(r->fixedHeight->width(), 12);
    r->tableEdit();
    EXPECT_FALSE(r->fileTable->isEditing());
    EXPECT_DOUBLE_EQ(r->fixedHeight->width(), 15);
}

TEST_F(RootScreen, RefreshItemPicksUpNewFiles) {
    start();
    EXPECT_EQ(root()->fileTable->numberOfRowsInSection(0), 0);
    addFile("new.txt", 1);
    ASSERT_TRUE(root()->refreshButton->press());
    EXPECT_EQ(rowNames(), (Names{"new.txt"}));
}

TEST(StorageFigures, GigabytesFromWholeMegabytes) {
    struct Case {
        std::int64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {2147483648, "Free Memory: 2.00 GB"},
        {1048575, "Free Memory: 0.00 GB"},
        {1610612736, "Free Memory: 1.50 GB"},
        {64LL << 30, "Free Memory: 64.00 GB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::formatString("Free Memory: %.2f GB",
                                         static_cast<double>(app::gigabytesFromBytes(c.bytes))),
                  c.text);
}

TEST_F(RootScreen, StoragePanelSlidesAndSwapsTheArrow) {
    start();
    auto r = root();
    EXPECT_EQ(r->freeMemory->text().rfind("Free Memory: ", 0), 0u);
    EXPECT_EQ(r->totalMemoryLabel->text().rfind("Total Memory: ", 0), 0u);
    EXPECT_EQ(r->usedMemory->text().rfind("Used Memory: ", 0), 0u);
    double upY = r->memoryView->frame().y();
    struct Step {
        double y;
        const char* normal;
        const char* highlighted;
    };
    const Step steps[] = {{upY + 100, "Arrow_1.png", "Arrow_11.png"}, {upY, "Arrow_2.png", "Arrow_21.png"}};
    for (const auto& step : steps) {
        r->memoryButton->sendActionsForControlEvents(platform::ControlEvent::TouchUpInside);
        EXPECT_DOUBLE_EQ(r->memoryView->frame().y(), step.y);
        EXPECT_EQ(r->memoryButton->imageForState(platform::ControlState::Normal)->name(), step.normal);
        EXPECT_EQ(r->memoryButton->imageForState(platform::ControlState::Highlighted)->name(),
                  step.highlighted);
        auto slide = animations("view", *r->memoryView, "frame");
        ASSERT_FALSE(slide.empty());
        EXPECT_DOUBLE_EQ(slide.back().duration, 0.3);
    }
}

TEST_F(RootScreen, UpgradeImagesCrossFadeEverySecondAndTheButtonOpensThePaidEdition) {
    start();
    auto r = root();
    // b runs 0..5 and wraps: odd steps show the button, even ones the overlay.
    const float buttonAlpha[] = {0, 1, 0, 1, 0, 1, 0, 1};
    for (float expected : buttonAlpha) {
        clock_.advance(1.0);
        EXPECT_FLOAT_EQ(static_cast<float>(r->upgradeButon->alpha()), expected);
        EXPECT_FLOAT_EQ(static_cast<float>(r->imageV->alpha()), 1 - expected);
    }
    EXPECT_EQ(app::b, 2);
    auto blink = animations("Blink", *r->imageV, "alpha");
    ASSERT_FALSE(blink.empty());
    EXPECT_DOUBLE_EQ(blink.back().duration, 1.0);

    r->upgradeButon->sendActionsForControlEvents(platform::ControlEvent::TouchDown);
    ASSERT_FALSE(platform::Application::shared().openedURLs().empty());
    EXPECT_EQ(platform::Application::shared().openedURLs().back(), promo::storePageURL("904217512"));
}

} // namespace
} // namespace apptest
