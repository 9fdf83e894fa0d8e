#include "app/SettingsView.h"

#include "app/FerrowickAppDelegate.h"
#include "app/MainInterface.h"
#include "app/RootViewController.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Strings.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableViewCell.h"

namespace app {
namespace {

enum class ControlKind { Switch, Field };

// The settings table: one row per control.
struct SettingsRow {
    int section;
    int row;
    const char* label;
    ControlKind kind;
    std::string_view defaultsKey; // the switch's key ("" for the lock and the fields)
    const char* placeholder;      // text fields
};
constexpr SettingsRow kRows[] = {
    {0, 0, "Show file size", ControlKind::Switch, kShowSizeKey, nullptr},
    {0, 1, "Show file extension", ControlKind::Switch, kShowExtensionKey, nullptr},
    {0, 2, "Show file device", ControlKind::Switch, kShowFilesKey, nullptr},
    {1, 0, "Enable passkey lock", ControlKind::Switch, {}, nullptr},
    {1, 1, "Pass Key", ControlKind::Field, {}, "Pass key"},
    {1, 2, "Confirm pass key", ControlKind::Field, {}, "Confirm"},
};
constexpr const char* kSectionTitles[] = {"Viewing Options", "Security"};
constexpr const char* kInstructions[] = {"Enable Password Lock", "Show File size", "Show file extension",
                                         "Show file on device",  "Passkey",        "Confirm"};

constexpr int kViewingRows = 3;
constexpr int kSecurityRowsLocked = 3;
constexpr int kSecurityRowsUnlocked = 1;

const platform::Rect kRowLabelFrame{10, 5, 200, 31};
const platform::Rect kSwitchFrame{200, 8, 94, 27};
const platform::Rect kFieldFrame{180, 10, 130, 31};
constexpr double kFieldFontSize = 16;

constexpr std::string_view kKeyMismatchTitle = "Pass key does not match";
constexpr const char* kTableAnimation = "tableView";
constexpr double kLiftDuration = 0.5;
constexpr double kLowerDuration = 0.3;

// "%d%d" of section + 1 and row + 1, read as a number.
int tagFor(int section, int row) {
    return platform::intValue(platform::formatString("%d%d", section + 1, row + 1));
}

const SettingsRow* rowFor(const platform::IndexPath& indexPath) {
    for (const auto& r : kRows)
        if (r.section == indexPath.section && r.row == indexPath.row)
            return &r;
    return nullptr;
}

std::string storedPassKey() {
    return platform::UserDefaults::standard().stringForKey(kPassKeyKey).value_or("");
}

bool isControlTag(int tag) {
    for (const auto& r : kRows)
        if (tagFor(r.section, r.row) == tag)
            return true;
    return false;
}

} // namespace

SettingsView::SettingsView() = default;

SettingsView::~SettingsView() = default;

std::shared_ptr<SettingsView> SettingsView::sharedSettings() {
    return std::static_pointer_cast<SettingsView>(shared_from_this());
}

void SettingsView::loadView() {
    loadSettingsViewInterface(*this);
}

void SettingsView::viewDidLoad() {
    platform::ViewController::viewDidLoad();
    section1Row = kViewingRows;
    section2Row = storedPassKey().empty() ? kSecurityRowsUnlocked : kSecurityRowsLocked;
    setTitle("Settings");
    auto back = platform::BarButtonItem::withTitle("Back", platform::BarButtonItemStyle::Plain);
    back->setTarget(sharedSettings(), &SettingsView::doneButtonPressed);
    navigationItem().setLeftBarButtonItem(back);
    if (auto nav = navigationController())
        nav->navigationBar().setTintColor(platform::Color::grayColor());
    instructionArray.assign(std::begin(kInstructions), std::end(kInstructions));
}

void SettingsView::viewWillAppear(bool animated) {
    passKey.clear();
    passKey2.clear();
    std::string stored = storedPassKey();
    auto keyField = std::dynamic_pointer_cast<platform::TextField>(controlWithTag(kKeyFieldTag));
    if (!stored.empty()) {
        if (keyField)
            keyField->setText(stored);
        passKey = stored;
    } else if (keyField) {
        keyField->setText("");
    }
    platform::ViewController::viewWillAppear(animated);
}

int SettingsView::tableViewNumberOfRowsInSection(platform::TableView&, int section) {
    return section == 0 ? section1Row : section2Row;
}

std::optional<std::string> SettingsView::tableViewTitleForHeaderInSection(platform::TableView&, int section) {
    if (section < 0 || section >= static_cast<int>(std::size(kSectionTitles)))
        return std::nullopt;
    return kSectionTitles[section];
}

std::shared_ptr<platform::View> SettingsView::controlWithTag(int tag) const {
    auto it = controls_.find(tag);
    return it == controls_.end() ? nullptr : it->second;
}

std::shared_ptr<platform::TableViewCell>
SettingsView::tableViewCellForRowAtIndexPath(platform::TableView& tableView,
                                             const platform::IndexPath& indexPath) {
    auto cell = tableView.dequeueReusableCellWithIdentifier(kCellIdentifier);
    if (!cell) {
        cell =
            std::make_shared<platform::TableViewCell>(platform::TableViewCellStyle::Default, kCellIdentifier);
        auto label = std::make_shared<platform::Label>(kRowLabelFrame);
        label->setTag(kRowLabelTag);
        label->setBackgroundColor(platform::Color::clearColor());
        label->setTextColor(platform::Color::blackColor());
        cell->contentView().addSubview(label);
        cell->setSelectionStyle(platform::TableViewCellSelectionStyle::None);
    }
    const SettingsRow* row = rowFor(indexPath);
    if (auto label =
            std::dynamic_pointer_cast<platform::Label>(cell->contentView().viewWithTag(kRowLabelTag)))
        label->setText(row ? row->label : "");
    configureControl(*cell, indexPath);
    return cell;
}

void SettingsView::configureControl(platform::TableViewCell& cell, const platform::IndexPath& indexPath) {
    const SettingsRow* row = rowFor(indexPath);
    int wanted = row ? tagFor(row->section, row->row) : 0;
    // Take out any other row's control the reused cell still holds.
    auto subviews = cell.contentView().subviews();
    for (const auto& v : subviews)
        if (isControlTag(v->tag()) && v->tag() != wanted)
            v->removeFromSuperview();
    if (!row)
        return;

    auto& control = controls_[wanted];
    if (!control) {
        auto self = sharedSettings();
        if (row->kind == ControlKind::Switch) {
            auto toggle = std::make_shared<platform::Switch>(kSwitchFrame);
            bool on = row->defaultsKey.empty()
                          ? !storedPassKey().empty()
                          : platform::UserDefaults::standard().boolForKey(row->defaultsKey);
            toggle->setOn(on);
            toggle->addTarget(
                self,
                [](SettingsView& s, platform::Control& c) {
                    s.switchValueChanged(static_cast<platform::Switch&>(c));
                },
                platform::ControlEvent::ValueChanged);
            control = toggle;
        } else {
            auto field = std::make_shared<platform::TextField>(kFieldFrame);
            field->setPlaceholder(row->placeholder);
            field->setFont(platform::Font::systemFont(kFieldFontSize));
            field->setSecureTextEntry(true);
            field->setClearsOnBeginEditing(true);
            field->setKeyboardType(platform::KeyboardType::NumberPad);
            field->setDelegate(self);
            std::string stored = storedPassKey();
            if (!stored.empty()) {
                field->setText(stored);
                passKey = stored;
            }
            control = field;
        }
        control->setTag(wanted);
    }
    if (control->superview().get() != &cell.contentView())
        cell.contentView().addSubview(control);
}

void SettingsView::lockTurnedOff() {
    // Off clears the key and both fields; nothing typed is stored again.
    section2Row = kSecurityRowsUnlocked;
    platform::UserDefaults::standard().setString(kPassKeyKey, "");
    passKey.clear();
    passKey2.clear();
    for (int tag : {kKeyFieldTag, kConfirmFieldTag})
        if (auto field = std::dynamic_pointer_cast<platform::TextField>(controlWithTag(tag))) {
            field->resignFirstResponder();
            field->setText("");
        }
    editedField1.reset();
    editedField2.reset();
    navigationItem().setRightBarButtonItem(nullptr);
    slideTable(kTableLift, kLowerDuration, false);
    setTable->reloadData();
}

bool SettingsView::isLockOn() const {
    if (auto toggle = std::dynamic_pointer_cast<platform::Switch>(controlWithTag(kLockSwitchTag)))
        return toggle->isOn();
    return section2Row == kSecurityRowsLocked;
}

std::string SettingsView::fieldText(int tag) const {
    auto field = std::dynamic_pointer_cast<platform::TextField>(controlWithTag(tag));
    return field ? field->text() : std::string();
}

void SettingsView::turnLockOff() {
    if (auto toggle = std::dynamic_pointer_cast<platform::Switch>(controlWithTag(kLockSwitchTag)))
        toggle->setOn(false);
    platform::UserDefaults::standard().setBool(kSecurityKey, false);
    lockTurnedOff();
}

void SettingsView::storeKey(const std::string& key) {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setString(kPassKeyKey, key);
    defaults.setBool(kSecurityKey, true);
    for (int tag : {kKeyFieldTag, kConfirmFieldTag})
        if (auto field = std::dynamic_pointer_cast<platform::TextField>(controlWithTag(tag)))
            field->resignFirstResponder();
    slideTable(kTableLift, kLowerDuration, false);
    navigationItem().setRightBarButtonItem(nullptr);
}

void SettingsView::showKeyMismatch() {
    platform::AlertView::create(std::string(kKeyMismatchTitle), "", {}, std::string("OK"))->show();
}

void SettingsView::switchValueChanged(platform::Switch& sender) {
    auto& defaults = platform::UserDefaults::standard();
    auto& center = platform::NotificationCenter::defaultCenter();
    bool on = sender.isOn();
    platform::logLine(platform::formatString("Tag: %d on: %d", sender.tag(), on ? 1 : 0));
    switch (sender.tag()) {
    case kLockSwitchTag:
        countArray = 0;
        if (on) {
            section1Row = kViewingRows;
            section2Row = kSecurityRowsLocked;
            platform::logLine("YEs " + passKey);
            defaults.setString(kPassKeyKey, passKey);
            setTable->reloadData();
        } else {
            lockTurnedOff();
        }
        // The lock is on only with a key: turned on before one is confirmed, it stays off
        // until Done (or leaving the screen) stores one.
        defaults.setBool(kSecurityKey, on && !storedPassKey().empty());
        break;
    case kSizeSwitchTag:
        defaults.setBool(kShowSizeKey, on);
        center.post(kShowFileNotification);
        break;
    case kExtensionSwitchTag:
        platform::logLine(platform::formatString("%d", on ? 1 : 0));
        defaults.setBool(kShowExtensionKey, on);
        center.post(kFileExtensionNotification);
        break;
    case kDeviceSwitchTag:
        defaults.setBool(kShowFilesKey, on);
        center.post(kShowFileNotification);
        break;
    default:
        break;
    }
}

std::optional<bool> SettingsView::textFieldShouldBeginEditing(platform::TextField& field) {
    platform::logLine(platform::formatString("edit %d", field.tag()));
    auto shared = std::static_pointer_cast<platform::TextField>(field.sharedView());
    if (field.tag() == kKeyFieldTag)
        editedField1 = shared;
    else if (field.tag() == kConfirmFieldTag)
        editedField2 = shared;
    auto doneItem = platform::BarButtonItem::withSystemItem(platform::BarButtonSystemItem::Done);
    doneItem->setTarget(sharedSettings(), &SettingsView::editDone);
    navigationItem().setRightBarButtonItem(doneItem);
    slideTable(-kTableLift, kLiftDuration, true);
    return true;
}

void SettingsView::textFieldDidEndEditing(platform::TextField&) {
    platform::logLine("end");
}

void SettingsView::slideTable(double dy, double duration, bool up) {
    platform::View::beginAnimations(kTableAnimation);
    platform::View::setAnimationDuration(duration);
    platform::Rect frame = setTable->frame();
    // Lift only a table that is down, lower only one that is up.
    if (up ? frame.y() >= 0 : frame.y() < 0)
        setTable->setFrame(frame.offsetBy(0, dy));
    platform::View::commitAnimations();
}

void SettingsView::editDone() {
    platform::logLine("end");
    auto field1 = editedField1.lock();
    auto field2 = editedField2.lock();
    if (field1 && field1->tag() == kKeyFieldTag)
        passKey = field1->text();
    if (field2 && field2->tag() == kConfirmFieldTag)
        passKey2 = field2->text();
    platform::logLine("key: " + passKey + "  " + passKey2);
    // The two fields' texts, edited or not: a field that was never edited still shows the
    // stored key, so a stray Done after the key field emptied itself does not match.
    const std::string key = fieldText(kKeyFieldTag);
    if (key != fieldText(kConfirmFieldTag)) {
        showKeyMismatch();
        return;
    }
    if (key.empty()) {
        // Both fields emptied on purpose: the empty key means no lock, and the screen says so
        // as turning the switch off does.
        turnLockOff();
        return;
    }
    storeKey(key);
}

bool SettingsView::settleLockBeforeLeaving() {
    if (!isLockOn())
        return true;
    // A key typed in both fields is what the screen shows as set: it is stored as Done would
    // store it, or, when the two differ, the screen stays to say so.
    const std::string key = fieldText(kKeyFieldTag);
    const std::string confirmation = fieldText(kConfirmFieldTag);
    if (!key.empty() && !confirmation.empty()) {
        if (key != confirmation) {
            showKeyMismatch();
            return false;
        }
        storeKey(key);
        return true;
    }
    // No key to lock with: the switch does not stay on over nothing.
    if (storedPassKey().empty())
        turnLockOff();
    return true;
}

void SettingsView::doneButtonPressed() {
    if (!settleLockBeforeLeaving())
        return;
    moveBannerHost(layout::bannerHostY());
    if (auto nav = navigationController())
        nav->dismissModalViewControllerAnimated(true);
    else
        dismissModalViewControllerAnimated(true);
}

} // namespace app
