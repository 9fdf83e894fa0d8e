#pragma once
// A scrolling list of rows in sections, filled by its data source and watched by its
// delegate (both held weakly).
//
// Rows are laid out top to bottom: for each section, its header (when the data source
// gives a title, kSectionHeaderHeight high) and its rows (the delegate's height, else
// rowHeight). Only the rows inside the visible bounds have cells; a row scrolled out of view
// gives its cell back to the reuse pool of its identifier, from which the data source takes
// it again with dequeueReusableCellWithIdentifier. reloadData asks the data source afresh
// (every shown cell goes back to the pool first); a table that has never been loaded loads
// itself the first time it is laid out.
//
// Editing: a row can be deleted when the data source answers responds(
// kCommitEditingStyleSelector) and does not refuse with tableViewCanEditRowAtIndexPath. A
// swipe (swipeToDeleteRow) or, in editing mode, a tap on the row's delete control shows the
// row's "Delete" button; pressing it sends the data source
// tableViewCommitEditingStyleForRowAtIndexPath with the delete style, and the data source
// then removes its entry and calls deleteRowsAtIndexPaths. An update whose row counts do not
// add up is logged and answered with a full reload, never a wrong table.
//
// Selecting a row (a tap, or selectRow...) tells the delegate did-select. Main thread only.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

namespace platform {

struct IndexPath {
    int section = 0;
    int row = 0;
    friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewRowAnimation { Fade = 0, Right = 1, Left = 2, Top = 3, Bottom = 4, None = 5, Middle = 6 };
enum class TableViewScrollPosition { None = 0, Top = 1, Middle = 2, Bottom = 3 };
const char* toString(TableViewRowAnimation animation);

inline constexpr double kDefaultRowHeight = 44;
inline constexpr double kSectionHeaderHeight = 22;
inline constexpr const char* kCommitEditingStyleSelector = "tableView:commitEditingStyle:forRowAtIndexPath:";

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int tableViewNumberOfRowsInSection(TableView& tableView, int section) = 0;
    virtual std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView& tableView,
                                                                          const IndexPath& indexPath) = 0;
    // Optional (nullopt: not implemented): 1 section; no header title; every row editable.
    virtual std::optional<int> numberOfSectionsInTableView(TableView&) { return std::nullopt; }
    virtual std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, int section) {
        (void)section;
        return std::nullopt;
    }
    virtual std::optional<bool> tableViewCanEditRowAtIndexPath(TableView&, const IndexPath&) {
        return std::nullopt;
    }
    // Called only when responds(kCommitEditingStyleSelector) answers true.
    virtual void tableViewCommitEditingStyleForRowAtIndexPath(TableView&, TableViewCellEditingStyle,
                                                              const IndexPath&) {}
    virtual bool responds(std::string_view selector) const {
        (void)selector;
        return false;
    }
};

class TableViewDelegate : public ScrollViewDelegate {
public:
    // Optional (nullopt: not implemented): the table's rowHeight; the delete style.
    virtual std::optional<double> tableViewHeightForRowAtIndexPath(TableView&, const IndexPath&) {
        return std::nullopt;
    }
    virtual std::optional<TableViewCellEditingStyle>
    tableViewEditingStyleForRowAtIndexPath(TableView&, const IndexPath&) {
        return std::nullopt;
    }
    virtual void tableViewDidSelectRowAtIndexPath(TableView&, const IndexPath&) {}
    virtual void tableViewDidDeselectRowAtIndexPath(TableView&, const IndexPath&) {}
};

class TableView : public ScrollView {
public:
    explicit TableView(const Rect& frame = {}, TableViewStyle style = TableViewStyle::Plain);
    ~TableView() override;

    TableViewStyle style() const { return style_; }
    std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
    std::shared_ptr<TableViewDelegate> tableDelegate() const { return tableDelegate_.lock(); }
    // Also the scroll view's delegate.
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate);
    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height) { rowHeight_ = height; }
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool on) { allowsSelection_ = on; }

    void reloadData();
    int numberOfSections() const;
    int numberOfRowsInSection(int section) const;
    Rect rectForRowAtIndexPath(const IndexPath& indexPath) const;
    // The row at `point` in the table's coordinates.
    std::optional<IndexPath> indexPathForRowAtPoint(Point point) const;

    std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The shown cell of a row (null when the row is out of view).
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(const IndexPath& indexPath);
    std::vector<std::shared_ptr<TableViewCell>> visibleCells();
    std::vector<IndexPath> indexPathsForVisibleRows();
    std::optional<IndexPath> indexPathForCell(const TableViewCell& cell) const;
    // Cells waiting in the reuse pools.
    std::size_t reusableCellCount() const;

    // The data source has already removed (added) its entries for these rows.
    void deleteRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);
    void insertRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths, TableViewRowAnimation animation);

    void selectRowAtIndexPath(const IndexPath& indexPath, bool animated, TableViewScrollPosition position);
    void deselectRowAtIndexPath(const IndexPath& indexPath, bool animated);
    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    // A tap on the row: selects it and tells the delegate (scrolls it into view first).
    bool tapRowAtIndexPath(const IndexPath& indexPath);
    void scrollToRowAtIndexPath(const IndexPath& indexPath, TableViewScrollPosition position, bool animated);

    bool isEditing() const { return editing_; }
    void setEditing(bool editing, bool animated = false);
    // Shows the row's "Delete" button when the row can be deleted; answers whether it shows.
    bool swipeToDeleteRow(const IndexPath& indexPath);
    // The row whose "Delete" button shows.
    std::optional<IndexPath> deleteConfirmationIndexPath() const;
    // Presses the shown "Delete" button; answers whether the data source was asked.
    bool confirmDeletion();
    bool canDeleteRow(const IndexPath& indexPath) const;

    // Rows whose cell texts include `text` exactly (any row, shown or not: out-of-view rows
    // are scrolled to and asked for).
    std::vector<IndexPath> indexPathsOfRowsWithText(std::string_view text);

    void layoutSubviews() override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;

protected:
    void contentOffsetChanged() override { setNeedsLayout(); }

private:
    struct Section {
        std::string title;
        bool hasTitle = false;
        std::vector<double> rowHeights;
    };
    void loadStructure();
    void layoutCells();
    void recycle(const IndexPath& indexPath);
    void recycleAll();
    double contentHeight() const;
    bool validIndexPath(const IndexPath& indexPath) const;
    double headerHeight(const Section& section) const;
    std::shared_ptr<TableViewCell> makeCell(const IndexPath& indexPath);
    void configureDeleteControl(const IndexPath& indexPath, TableViewCell& cell);
    void commitDelete(const IndexPath& indexPath);

    TableViewStyle style_;
    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> tableDelegate_;
    double rowHeight_ = kDefaultRowHeight;
    bool allowsSelection_ = true;
    bool loaded_ = false;
    bool editing_ = false;
    std::vector<Section> sections_;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusePool_;
    std::vector<std::shared_ptr<Label>> headerLabels_;
    std::optional<IndexPath> selected_;
    std::optional<IndexPath> confirming_;
    bool inLayout_ = false;
};

} // namespace platform
