#include "platform/ui/TableView.h"

#include <algorithm>
#include <set>

#include "platform/foundation/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Animation.h"

namespace platform {
namespace {

constexpr std::size_t kMaxReusableCellsPerIdentifier = 32;
constexpr double kHeaderFontSize = 17;

std::string describe(const IndexPath& ip) {
    return "section " + std::to_string(ip.section) + " row " + std::to_string(ip.row);
}

} // namespace

const char* toString(TableViewRowAnimation animation) {
    switch (animation) {
    case TableViewRowAnimation::Fade:
        return "fade";
    case TableViewRowAnimation::Right:
        return "right";
    case TableViewRowAnimation::Left:
        return "left";
    case TableViewRowAnimation::Top:
        return "top";
    case TableViewRowAnimation::Bottom:
        return "bottom";
    case TableViewRowAnimation::None:
        return "none";
    case TableViewRowAnimation::Middle:
        return "middle";
    }
    return "?";
}

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
    setBackgroundColor(Color::whiteColor());
}

TableView::~TableView() = default;

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
    dataSource_ = std::move(dataSource);
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> delegate) {
    tableDelegate_ = delegate;
    ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(delegate.lock()));
    loaded_ = false;
    setNeedsLayout();
}

// ---- Structure ----

double TableView::headerHeight(const Section& section) const {
    return section.hasTitle ? kSectionHeaderHeight : 0;
}

void TableView::loadStructure() {
    sections_.clear();
    auto ds = dataSource();
    if (!ds)
        return;
    auto delegate = tableDelegate();
    int count = std::max(0, ds->numberOfSectionsInTableView(*this).value_or(1));
    for (int s = 0; s < count; ++s) {
        Section section;
        if (auto title = ds->tableViewTitleForHeaderInSection(*this, s)) {
            section.title = *title;
            section.hasTitle = true;
        }
        int rows = ds->tableViewNumberOfRowsInSection(*this, s);
        if (rows < 0) {
            logLine("TableView: the data source answered a negative row count; taken as 0");
            rows = 0;
        }
        section.rowHeights.reserve(std::size_t(rows));
        for (int r = 0; r < rows; ++r) {
            double h = rowHeight_;
            if (delegate)
                h = delegate->tableViewHeightForRowAtIndexPath(*this, IndexPath{s, r}).value_or(rowHeight_);
            section.rowHeights.push_back(std::max(0.0, h));
        }
        sections_.push_back(std::move(section));
    }
}

double TableView::contentHeight() const {
    double h = 0;
    for (const auto& s : sections_) {
        h += headerHeight(s);
        for (double r : s.rowHeights)
            h += r;
    }
    return h;
}

bool TableView::validIndexPath(const IndexPath& ip) const {
    return ip.section >= 0 && ip.section < int(sections_.size()) && ip.row >= 0 &&
           ip.row < int(sections_[std::size_t(ip.section)].rowHeights.size());
}

int TableView::numberOfSections() const {
    return int(sections_.size());
}

int TableView::numberOfRowsInSection(int section) const {
    if (section < 0 || section >= int(sections_.size()))
        return 0;
    return int(sections_[std::size_t(section)].rowHeights.size());
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& ip) const {
    if (!validIndexPath(ip))
        return Rect();
    double y = 0;
    for (int s = 0; s < ip.section; ++s) {
        y += headerHeight(sections_[std::size_t(s)]);
        for (double r : sections_[std::size_t(s)].rowHeights)
            y += r;
    }
    const Section& section = sections_[std::size_t(ip.section)];
    y += headerHeight(section);
    for (int r = 0; r < ip.row; ++r)
        y += section.rowHeights[std::size_t(r)];
    return Rect(0, y, bounds().width(), section.rowHeights[std::size_t(ip.row)]);
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point point) const {
    if (point.x < 0 || point.x >= bounds().width())
        return std::nullopt;
    double y = 0;
    for (int s = 0; s < int(sections_.size()); ++s) {
        const Section& section = sections_[std::size_t(s)];
        y += headerHeight(section);
        for (int r = 0; r < int(section.rowHeights.size()); ++r) {
            double h = section.rowHeights[std::size_t(r)];
            if (point.y >= y && point.y < y + h)
                return IndexPath{s, r};
            y += h;
        }
    }
    return std::nullopt;
}

// ---- Loading and layout ----

void TableView::reloadData() {
    recycleAll();
    loadStructure();
    loaded_ = true;
    selected_.reset();
    confirming_.reset();
    setContentSize(Size{bounds().width(), contentHeight()});
    Point clamped = clampedOffset(contentOffset());
    if (!(clamped == contentOffset()))
        setContentOffset(clamped);
    layoutCells();
}

void TableView::layoutSubviews() {
    if (!loaded_)
        reloadData();
    else
        layoutCells();
}

std::shared_ptr<TableViewCell> TableView::makeCell(const IndexPath& ip) {
    std::shared_ptr<TableViewCell> cell;
    if (auto ds = dataSource())
        cell = ds->tableViewCellForRowAtIndexPath(*this, ip);
    if (!cell) {
        logLine("TableView: the data source gave no cell for " + describe(ip) + "; an empty row is shown");
        cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, "");
    }
    return cell;
}

void TableView::layoutCells() {
    if (inLayout_)
        return;
    inLayout_ = true;
    // Headers are cheap: they are made again on every layout.
    for (auto& label : headerLabels_)
        label->removeFromSuperview();
    headerLabels_.clear();

    Rect visible = bounds();
    double width = visible.width();
    std::map<IndexPath, Rect> wanted;
    double y = 0;
    for (int s = 0; s < int(sections_.size()); ++s) {
        const Section& section = sections_[std::size_t(s)];
        if (section.hasTitle) {
            Rect header(0, y, width, kSectionHeaderHeight);
            if (header.intersects(visible)) {
                auto label = std::make_shared<Label>(header);
                label->setText(section.title);
                label->setFont(Font::boldSystemFont(kHeaderFontSize));
                label->setBackgroundColor(Color::lightGrayColor());
                headerLabels_.push_back(label);
            }
            y += kSectionHeaderHeight;
        }
        for (int r = 0; r < int(section.rowHeights.size()); ++r) {
            Rect row(0, y, width, section.rowHeights[std::size_t(r)]);
            if (row.intersects(visible))
                wanted[IndexPath{s, r}] = row;
            y += row.height();
        }
    }
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        auto ip = it->first;
        ++it;
        recycle(ip);
    }
    for (auto& [ip, rect] : wanted) {
        auto it = visible_.find(ip);
        std::shared_ptr<TableViewCell> cell;
        if (it != visible_.end()) {
            cell = it->second;
        } else {
            cell = makeCell(ip);
            visible_[ip] = cell;
            cell->setEditing(editing_);
            cell->setSelected(selected_ == ip);
            if (cell->superview().get() != this)
                insertSubview(cell, 0);
        }
        if (cell->frame() != rect)
            cell->setFrame(rect);
        if (confirming_ == ip && !cell->showingDeleteConfirmation())
            configureDeleteControl(ip, *cell);
    }
    for (auto& label : headerLabels_)
        addSubview(label);
    inLayout_ = false;
}

void TableView::recycle(const IndexPath& ip) {
    auto it = visible_.find(ip);
    if (it == visible_.end())
        return;
    auto cell = it->second;
    visible_.erase(it);
    cell->removeFromSuperview();
    if (cell->reuseIdentifier().empty())
        return;
    cell->prepareForReuse();
    auto& pool = reusePool_[cell->reuseIdentifier()];
    if (pool.size() < kMaxReusableCellsPerIdentifier)
        pool.push_back(cell);
}

void TableView::recycleAll() {
    std::vector<IndexPath> all;
    for (auto& [ip, cell] : visible_)
        all.push_back(ip);
    for (auto& ip : all)
        recycle(ip);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto it = reusePool_.find(identifier);
    if (it == reusePool_.end() || it->second.empty())
        return nullptr;
    auto cell = it->second.back();
    it->second.pop_back();
    return cell;
}

std::size_t TableView::reusableCellCount() const {
    std::size_t n = 0;
    for (auto& [id, pool] : reusePool_)
        n += pool.size();
    return n;
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(const IndexPath& ip) {
    layoutIfNeeded();
    auto it = visible_.find(ip);
    return it == visible_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
    layoutIfNeeded();
    std::vector<std::shared_ptr<TableViewCell>> out;
    for (auto& [ip, cell] : visible_)
        out.push_back(cell);
    return out;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
    layoutIfNeeded();
    std::vector<IndexPath> out;
    for (auto& [ip, cell] : visible_)
        out.push_back(ip);
    return out;
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell& cell) const {
    for (auto& [ip, c] : visible_)
        if (c.get() == &cell)
            return ip;
    return std::nullopt;
}

// ---- Updates ----

void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths,
                                       TableViewRowAnimation animation) {
    if (!loaded_) {
        reloadData();
        return;
    }
    auto ds = dataSource();
    std::set<IndexPath> gone(indexPaths.begin(), indexPaths.end());
    bool consistent = ds != nullptr && gone.size() == indexPaths.size();
    for (const auto& ip : gone)
        consistent = consistent && validIndexPath(ip);
    int sectionCount = ds ? std::max(0, ds->numberOfSectionsInTableView(*this).value_or(1)) : 0;
    consistent = consistent && sectionCount == int(sections_.size());
    for (int s = 0; consistent && s < sectionCount; ++s) {
        int removed = int(
            std::count_if(gone.begin(), gone.end(), [&](const IndexPath& ip) { return ip.section == s; }));
        consistent = ds->tableViewNumberOfRowsInSection(*this, s) == numberOfRowsInSection(s) - removed;
    }
    if (!consistent) {
        logLine("TableView: invalid row deletion (the data source's row counts do not match); reloading the "
                "table");
        reloadData();
        return;
    }
    for (const auto& ip : gone)
        recycle(ip);
    auto shifted = [&](const IndexPath& ip) {
        int before = int(std::count_if(gone.begin(), gone.end(), [&](const IndexPath& g) {
            return g.section == ip.section && g.row < ip.row;
        }));
        return IndexPath{ip.section, ip.row - before};
    };
    std::map<IndexPath, std::shared_ptr<TableViewCell>> moved;
    for (auto& [ip, cell] : visible_)
        moved[shifted(ip)] = cell;
    visible_ = std::move(moved);
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        auto& heights = sections_[std::size_t(it->section)].rowHeights;
        heights.erase(heights.begin() + it->row);
    }
    if (selected_)
        selected_ = gone.count(*selected_) ? std::nullopt : std::optional<IndexPath>(shifted(*selected_));
    if (confirming_) {
        if (auto cell = visible_.count(shifted(*confirming_)) ? visible_[shifted(*confirming_)] : nullptr)
            cell->hideDeleteConfirmation();
        confirming_.reset();
    }

    AnimationRecord r;
    r.kind = AnimationKind::TableRows;
    r.name = "deleteRows";
    r.view = sharedView();
    r.viewIdentity = this;
    r.property = "deleteRows";
    std::string rows;
    for (const auto& ip : gone)
        rows += (rows.empty() ? "" : ",") + std::to_string(ip.section) + ":" + std::to_string(ip.row);
    r.to = rows;
    r.transitionType = toString(animation);
    r.startTime = Clock::current().monotonic();
    r.state = AnimationState::Finished;
    AnimationLog::shared().append(std::move(r));

    setContentSize(Size{bounds().width(), contentHeight()});
    Point clamped = clampedOffset(contentOffset());
    if (!(clamped == contentOffset()))
        setContentOffset(clamped);
    layoutCells();
}

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& indexPaths,
                                       TableViewRowAnimation animation) {
    if (!loaded_) {
        reloadData();
        return;
    }
    auto ds = dataSource();
    std::set<IndexPath> added(indexPaths.begin(), indexPaths.end());
    bool consistent = ds != nullptr && added.size() == indexPaths.size();
    int sectionCount = ds ? std::max(0, ds->numberOfSectionsInTableView(*this).value_or(1)) : 0;
    consistent = consistent && sectionCount == int(sections_.size());
    std::vector<int> newCounts;
    for (int s = 0; consistent && s < sectionCount; ++s) {
        int n = int(
            std::count_if(added.begin(), added.end(), [&](const IndexPath& ip) { return ip.section == s; }));
        int count = ds->tableViewNumberOfRowsInSection(*this, s);
        consistent = count == numberOfRowsInSection(s) + n;
        newCounts.push_back(count);
    }
    for (const auto& ip : added)
        consistent = consistent && ip.section >= 0 && ip.section < sectionCount && ip.row >= 0 &&
                     ip.row < newCounts[std::size_t(ip.section)];
    if (!consistent) {
        logLine("TableView: invalid row insertion (the data source's row counts do not match); reloading the "
                "table");
        reloadData();
        return;
    }
    // Rows inserted in ascending order land where the data source now has them.
    auto delegate = tableDelegate();
    std::map<IndexPath, std::shared_ptr<TableViewCell>> cells = std::move(visible_);
    visible_.clear();
    for (const auto& ip : added) {
        auto& heights = sections_[std::size_t(ip.section)].rowHeights;
        double h = delegate ? delegate->tableViewHeightForRowAtIndexPath(*this, ip).value_or(rowHeight_)
                            : rowHeight_;
        heights.insert(heights.begin() + ip.row, std::max(0.0, h));
    }
    for (auto& [ip, cell] : cells) {
        IndexPath moved = ip;
        for (const auto& a : added)
            if (a.section == ip.section && a.row <= moved.row)
                ++moved.row;
        visible_[moved] = cell;
    }
    confirming_.reset();
    selected_.reset();

    AnimationRecord r;
    r.kind = AnimationKind::TableRows;
    r.name = "insertRows";
    r.view = sharedView();
    r.viewIdentity = this;
    r.property = "insertRows";
    r.transitionType = toString(animation);
    r.startTime = Clock::current().monotonic();
    r.state = AnimationState::Finished;
    AnimationLog::shared().append(std::move(r));

    setContentSize(Size{bounds().width(), contentHeight()});
    layoutCells();
}

// ---- Selection ----

void TableView::selectRowAtIndexPath(const IndexPath& ip, bool animated, TableViewScrollPosition position) {
    layoutIfNeeded();
    if (!validIndexPath(ip))
        return;
    if (selected_ && *selected_ != ip)
        if (auto it = visible_.find(*selected_); it != visible_.end())
            it->second->setSelected(false, animated);
    selected_ = ip;
    if (position != TableViewScrollPosition::None)
        scrollToRowAtIndexPath(ip, position, animated);
    if (auto it = visible_.find(ip); it != visible_.end())
        it->second->setSelected(true, animated);
}

void TableView::deselectRowAtIndexPath(const IndexPath& ip, bool animated) {
    if (selected_ != ip)
        return;
    selected_.reset();
    if (auto it = visible_.find(ip); it != visible_.end())
        it->second->setSelected(false, animated);
}

bool TableView::tapRowAtIndexPath(const IndexPath& ip) {
    layoutIfNeeded();
    if (!validIndexPath(ip))
        return false;
    auto keep = sharedView();
    if (confirming_) {
        // A tap while a "Delete" button shows only takes the button away.
        if (auto it = visible_.find(*confirming_); it != visible_.end())
            it->second->hideDeleteConfirmation();
        confirming_.reset();
        return true;
    }
    if (!allowsSelection_ || editing_)
        return false;
    scrollToRowAtIndexPath(ip, TableViewScrollPosition::None, false);
    selectRowAtIndexPath(ip, false, TableViewScrollPosition::None);
    if (auto d = tableDelegate())
        d->tableViewDidSelectRowAtIndexPath(*this, ip);
    return true;
}

void TableView::touchesEnded(const TouchSet& touches, const Event& event) {
    (void)event;
    if (touches.empty())
        return;
    Point p = touches.front()->locationInView(this);
    if (auto ip = indexPathForRowAtPoint(p))
        tapRowAtIndexPath(*ip);
}

void TableView::scrollToRowAtIndexPath(const IndexPath& ip, TableViewScrollPosition position, bool animated) {
    if (!validIndexPath(ip))
        return;
    Rect row = rectForRowAtIndexPath(ip);
    Rect b = bounds();
    Point offset = contentOffset();
    switch (position) {
    case TableViewScrollPosition::Top:
        offset.y = row.y();
        break;
    case TableViewScrollPosition::Middle:
        offset.y = row.midY() - b.height() / 2;
        break;
    case TableViewScrollPosition::Bottom:
        offset.y = row.maxY() - b.height();
        break;
    case TableViewScrollPosition::None:
        if (row.y() < b.y())
            offset.y = row.y();
        else if (row.maxY() > b.maxY())
            offset.y = row.maxY() - b.height();
        break;
    }
    offset = clampedOffset(offset);
    if (!(offset == contentOffset()))
        setContentOffset(offset, animated);
    layoutCells();
}

// ---- Editing ----

void TableView::setEditing(bool editing, bool animated) {
    editing_ = editing;
    if (confirming_) {
        if (auto it = visible_.find(*confirming_); it != visible_.end())
            it->second->hideDeleteConfirmation();
        confirming_.reset();
    }
    for (auto& [ip, cell] : visible_)
        cell->setEditing(editing, animated);
}

bool TableView::canDeleteRow(const IndexPath& ip) const {
    auto ds = dataSource();
    if (!ds || !validIndexPath(ip) || !ds->responds(kCommitEditingStyleSelector))
        return false;
    auto& self = const_cast<TableView&>(*this);
    if (!ds->tableViewCanEditRowAtIndexPath(self, ip).value_or(true))
        return false;
    auto delegate = tableDelegate();
    auto style = delegate ? delegate->tableViewEditingStyleForRowAtIndexPath(self, ip) : std::nullopt;
    return style.value_or(TableViewCellEditingStyle::Delete) == TableViewCellEditingStyle::Delete;
}

void TableView::configureDeleteControl(const IndexPath& ip, TableViewCell& cell) {
    (void)ip;
    std::weak_ptr<View> weak = sharedView();
    cell.showDeleteConfirmation([weak] {
        if (auto table = std::static_pointer_cast<TableView>(weak.lock()))
            table->confirmDeletion();
    });
}

bool TableView::swipeToDeleteRow(const IndexPath& ip) {
    layoutIfNeeded();
    if (!canDeleteRow(ip))
        return false;
    if (confirming_) {
        if (auto it = visible_.find(*confirming_); it != visible_.end())
            it->second->hideDeleteConfirmation();
        confirming_.reset();
    }
    scrollToRowAtIndexPath(ip, TableViewScrollPosition::None, false);
    confirming_ = ip;
    if (auto it = visible_.find(ip); it != visible_.end())
        configureDeleteControl(ip, *it->second);
    return true;
}

std::optional<IndexPath> TableView::deleteConfirmationIndexPath() const {
    return confirming_;
}

bool TableView::confirmDeletion() {
    if (!confirming_)
        return false;
    IndexPath ip = *confirming_;
    if (auto it = visible_.find(ip); it != visible_.end())
        it->second->hideDeleteConfirmation();
    confirming_.reset();
    if (!canDeleteRow(ip))
        return false;
    commitDelete(ip);
    return true;
}

void TableView::commitDelete(const IndexPath& ip) {
    auto keep = sharedView();
    if (auto ds = dataSource())
        ds->tableViewCommitEditingStyleForRowAtIndexPath(*this, TableViewCellEditingStyle::Delete, ip);
}

// ---- Finding rows ----

std::vector<IndexPath> TableView::indexPathsOfRowsWithText(std::string_view text) {
    layoutIfNeeded();
    std::vector<IndexPath> out;
    for (int s = 0; s < int(sections_.size()); ++s) {
        for (int r = 0; r < int(sections_[std::size_t(s)].rowHeights.size()); ++r) {
            IndexPath ip{s, r};
            std::shared_ptr<TableViewCell> cell;
            bool borrowed = false;
            if (auto it = visible_.find(ip); it != visible_.end()) {
                cell = it->second;
            } else {
                // Out of view: ask the data source as scrolling would, then give the cell back.
                cell = makeCell(ip);
                borrowed = true;
            }
            cell->layoutIfNeeded();
            auto texts = cell->visibleTexts();
            if (std::find(texts.begin(), texts.end(), text) != texts.end())
                out.push_back(ip);
            if (borrowed && !cell->reuseIdentifier().empty()) {
                cell->prepareForReuse();
                auto& pool = reusePool_[cell->reuseIdentifier()];
                if (pool.size() < kMaxReusableCellsPerIdentifier)
                    pool.push_back(cell);
            }
        }
    }
    return out;
}

} // namespace platform
