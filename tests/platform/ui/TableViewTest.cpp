#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/foundation/Log.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextRenderer.h"

using namespace platform;

namespace {

// A list of names in one section, with cells built by tag as the drive's list does.
class NameList : public TableViewDataSource, public TableViewDelegate {
public:
    std::vector<std::string> names;
    int cellsMade = 0;
    int cellsAsked = 0;
    bool editable = true;
    bool supportsDelete = true;
    std::vector<IndexPath> committed;
    std::vector<IndexPath> selected;
    bool deleteOnCommit = true;

    int tableViewNumberOfRowsInSection(TableView&, int) override { return int(names.size()); }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& table,
                                                                  const IndexPath& ip) override {
        ++cellsAsked;
        auto cell = table.dequeueReusableCellWithIdentifier("Cell");
        if (!cell) {
            ++cellsMade;
            cell = std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle, "Cell");
            auto label = std::make_shared<Label>(Rect(8, -6, 250, 35));
            label->setTag(1000);
            cell->contentView().addSubview(label);
        }
        std::static_pointer_cast<Label>(cell->viewWithTag(1000))->setText(names[std::size_t(ip.row)]);
        return cell;
    }
    std::optional<bool> tableViewCanEditRowAtIndexPath(TableView&, const IndexPath&) override {
        return editable;
    }
    void tableViewCommitEditingStyleForRowAtIndexPath(TableView& table, TableViewCellEditingStyle style,
                                                      const IndexPath& ip) override {
        EXPECT_EQ(style, TableViewCellEditingStyle::Delete);
        committed.push_back(ip);
        if (deleteOnCommit) {
            names.erase(names.begin() + ip.row);
            table.deleteRowsAtIndexPaths({ip}, TableViewRowAnimation::Fade);
        }
    }
    bool responds(std::string_view selector) const override {
        return supportsDelete && selector == kCommitEditingStyleSelector;
    }
    std::optional<double> tableViewHeightForRowAtIndexPath(TableView&, const IndexPath&) override {
        return 70;
    }
    void tableViewDidSelectRowAtIndexPath(TableView&, const IndexPath& ip) override {
        selected.push_back(ip);
    }
};

std::vector<std::string> shownNames(TableView& table) {
    std::vector<std::string> out;
    for (auto& cell : table.visibleCells())
        out.push_back(std::static_pointer_cast<Label>(cell->viewWithTag(1000))->text());
    return out;
}

class Tables : public uitest::UiTest {
protected:
    Tables() {
        list->names = {"c.doc", "B.pdf", "a.txt"};
        table->setDataSource(list);
        table->setDelegate(list);
    }
    std::shared_ptr<NameList> list = std::make_shared<NameList>();
    // 280 points high: four 70-point rows show at a time.
    std::shared_ptr<TableView> table = std::make_shared<TableView>(Rect(0, 0, 320, 280));
};

} // namespace

TEST_F(Tables, LoadsFromTheDataSourceTheFirstTimeItIsLaidOut) {
    EXPECT_EQ(list->cellsAsked, 0);
    EXPECT_EQ(shownNames(*table), (std::vector<std::string>{"c.doc", "B.pdf", "a.txt"}));
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 2}), Rect(0, 140, 320, 70));
    EXPECT_EQ(table->contentSize().height, 210);

    list->names = {"z"};
    EXPECT_EQ(shownNames(*table).size(), 3u); // nothing changes before a reload
    table->reloadData();
    EXPECT_EQ(shownNames(*table), (std::vector<std::string>{"z"}));
}

TEST_F(Tables, OnlyVisibleRowsHaveCellsAndScrolledOutCellsAreReused) {
    for (int i = 0; i < 20; ++i)
        list->names.push_back("file" + std::to_string(i));
    table->reloadData();
    EXPECT_EQ(table->indexPathsForVisibleRows().size(), 4u);
    EXPECT_EQ(list->cellsMade, 4);

    table->setContentOffset({0, 700}); // rows 10 to 13
    auto rows = table->indexPathsForVisibleRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows.front().row, 10);
    EXPECT_EQ(list->cellsMade, 4); // every new row took a cell given back by a row that left
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), nullptr);

    table->reloadData();
    EXPECT_EQ(list->cellsMade, 4);
}

TEST_F(Tables, SwipeToDeleteAsksTheDataSourceWhichRemovesTheRow) {
    ASSERT_TRUE(table->swipeToDeleteRow({0, 1}));
    auto cell = table->cellForRowAtIndexPath({0, 1});
    ASSERT_TRUE(cell && cell->showingDeleteConfirmation());
    EXPECT_TRUE(list->committed.empty()); // nothing happens before "Delete" is pressed

    cell->deleteConfirmationButton()->sendActionsForControlEvents(ControlEvent::TouchUpInside);
    ASSERT_EQ(list->committed.size(), 1u);
    EXPECT_EQ(list->committed[0], (IndexPath{0, 1}));
    EXPECT_EQ(shownNames(*table), (std::vector<std::string>{"c.doc", "a.txt"}));
    EXPECT_FALSE(table->deleteConfirmationIndexPath());
    auto r = AnimationLog::shared().last();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, AnimationKind::TableRows);
    EXPECT_EQ(r->transitionType, "fade");
}

TEST_F(Tables, RowsThatCannotBeEditedOrADataSourceWithoutCommitHaveNoDelete) {
    list->editable = false;
    EXPECT_FALSE(table->swipeToDeleteRow({0, 0}));
    list->editable = true;
    list->supportsDelete = false;
    EXPECT_FALSE(table->swipeToDeleteRow({0, 0}));
    EXPECT_FALSE(table->confirmDeletion());
    EXPECT_TRUE(list->committed.empty());
    list->supportsDelete = true;
    EXPECT_FALSE(table->swipeToDeleteRow({0, 7})); // no such row
}

TEST_F(Tables, AnUpdateThatDoesNotAddUpReloadsInsteadOfShowingAWrongTable) {
    table->layoutIfNeeded();
    list->deleteOnCommit = false;
    list->names.pop_back(); // the data source lost one row...
    LogCapture log;
    table->deleteRowsAtIndexPaths({{0, 0}, {0, 1}}, TableViewRowAnimation::Fade); // ...but two are deleted
    EXPECT_TRUE(log.contains("invalid row deletion"));
    EXPECT_EQ(shownNames(*table), (std::vector<std::string>{"c.doc", "B.pdf"}));
}

TEST_F(Tables, RowsBelowADeletedRowKeepTheirOwnCells) {
    auto below = table->cellForRowAtIndexPath({0, 2});
    list->names.erase(list->names.begin());
    table->deleteRowsAtIndexPaths({{0, 0}}, TableViewRowAnimation::Fade);
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1}), below);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}), Rect(0, 70, 320, 70));
}

TEST_F(Tables, ATapSelectsTheRowAndTellsTheDelegate) {
    auto window = makeKeyWindow();
    window->addSubview(table);
    Application::shared().simulateTap({160, 100}); // inside the second row
    ASSERT_EQ(list->selected.size(), 1u);
    EXPECT_EQ(list->selected[0], (IndexPath{0, 1}));
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));

    table->setEditing(true);
    EXPECT_FALSE(table->tapRowAtIndexPath({0, 0})); // no selection while editing
    EXPECT_EQ(list->selected.size(), 1u);
}

TEST_F(Tables, FindsRowsByTheirTextIncludingRowsOutOfView) {
    for (int i = 0; i < 10; ++i)
        list->names.push_back("file" + std::to_string(i));
    table->reloadData();
    auto rows = table->indexPathsOfRowsWithText("file8");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (IndexPath{0, 11}));
    EXPECT_TRUE(table->indexPathsOfRowsWithText("nothing").empty());
    EXPECT_EQ(table->indexPathsForVisibleRows().front().row, 0); // looking did not scroll
}

TEST_F(Tables, SectionsWithTitlesHaveHeadersAboveTheirRows) {
    class Settings : public TableViewDataSource {
    public:
        std::optional<int> numberOfSectionsInTableView(TableView&) override { return 2; }
        int tableViewNumberOfRowsInSection(TableView&, int s) override { return s == 0 ? 3 : 1; }
        std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, int s) override {
            return s == 0 ? "Viewing Options" : "Security";
        }
        std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&,
                                                                      const IndexPath& ip) override {
            auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "Cell");
            cell->textLabel().setText("row " + std::to_string(ip.section) + "." + std::to_string(ip.row));
            return cell;
        }
    };
    auto settings = std::make_shared<Settings>();
    auto grouped = std::make_shared<TableView>(Rect(0, 0, 320, 460), TableViewStyle::Grouped);
    grouped->setDataSource(settings);
    grouped->layoutIfNeeded();
    EXPECT_EQ(grouped->rectForRowAtIndexPath({1, 0}), Rect(0, 22 + 3 * 44 + 22, 320, 44));
    EXPECT_EQ(grouped->indexPathForRowAtPoint({10, 10}), std::nullopt); // a header, not a row
    auto canvas = TextRenderer::renderView(*grouped, {320, 460});
    EXPECT_NE(canvas.toString().find("Viewing Options"), std::string::npos);
    EXPECT_NE(canvas.toString().find("row 1.0"), std::string::npos);
}
