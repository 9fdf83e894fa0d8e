#pragma once
// The settings screen: the document list's three view switches and the pass-key lock.
//
// A grouped table with two sections. "Viewing Options" holds the switches "size",
// "extension" and "device" (each change is stored at once and announced to the root screen
// with "showFile" or "fileExtension"); "Security" holds the lock switch and, while the lock
// is on, two secure number fields to enter and confirm the key. The key is stored when the
// two fields' texts match on `editDone` (the "Done" button that editing brings up); a mismatch
// shows "Pass key does not match" and stores nothing. Turning the lock off clears the stored
// key and both fields; so does a Done that stores the empty key (no lock), turning the switch off.
// Leaving by "Back" with the lock on settles what the screen shows: both fields filled store
// their key when they match (as Done) and keep the screen with the mismatch alert when they do
// not; with no key stored the lock goes off. "security" is true only while a key is stored.
//
// Each control's tag is "%d%d" of section + 1 and row + 1 (11, 12, 13, 21, 22, 23). The screen
// is made anew each time the root screen opens it, wrapped in a navigation controller and
// presented modally; its view comes from the "SettingsView" interface builder. Main thread.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace app {

class SettingsView : public platform::ViewController,
                     public platform::TableViewDataSource,
                     public platform::TableViewDelegate,
                     public platform::TextFieldDelegate {
public:
    static constexpr const char* kCellIdentifier = "Cell";
    static constexpr int kRowLabelTag = 2000;
    static constexpr int kSizeSwitchTag = 11;
    static constexpr int kExtensionSwitchTag = 12;
    static constexpr int kDeviceSwitchTag = 13;
    static constexpr int kLockSwitchTag = 21;
    static constexpr int kKeyFieldTag = 22;
    static constexpr int kConfirmFieldTag = 23;
    static constexpr double kTableLift = 160;

    SettingsView();
    ~SettingsView() override;

    std::shared_ptr<SettingsView> sharedSettings();

    // ---- View life cycle ----
    void loadView() override; // the "SettingsView" interface
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    // ---- Table ----
    std::optional<int> numberOfSectionsInTableView(platform::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(platform::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(platform::TableView&, int section) override;
    std::shared_ptr<platform::TableViewCell>
    tableViewCellForRowAtIndexPath(platform::TableView& tableView,
                                   const platform::IndexPath& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(platform::TableView&, const platform::IndexPath&) override {}

    // ---- Controls ----
    void switchValueChanged(platform::Switch& sender);
    std::optional<bool> textFieldShouldBeginEditing(platform::TextField& field) override;
    void textFieldDidEndEditing(platform::TextField& field) override;
    void editDone();
    void doneButtonPressed();

    // The control of a row (null while its cell is not shown).
    std::shared_ptr<platform::View> controlWithTag(int tag) const;

    // ---- Fields ----
    std::shared_ptr<platform::TableView> setTable; // outlet
    std::vector<std::string> instructionArray;
    int countArray = 0;
    int section1Row = 0;
    int section2Row = 0;
    std::weak_ptr<platform::TextField> editedField1;
    std::weak_ptr<platform::TextField> editedField2;
    std::string passKey;
    std::string passKey2;

private:
    void configureControl(platform::TableViewCell& cell, const platform::IndexPath& indexPath);
    void slideTable(double dy, double duration, bool up);
    // The lock is off: the key is cleared with both fields, and only the switch row stays.
    void lockTurnedOff();
    // The same, with the switch turned off and "security" stored off.
    void turnLockOff();
    // Stores a confirmed, non-empty key: the lock is on; the fields put their keyboard away.
    void storeKey(const std::string& key);
    void showKeyMismatch();
    // Before leaving by Back: answers whether the screen may close (see above).
    bool settleLockBeforeLeaving();
    bool isLockOn() const;
    std::string fieldText(int tag) const;

    // The screen's controls by tag, made once each and placed into whichever cell shows their
    // row, so a reused cell never keeps another row's control and a control keeps its state
    // (a switch's position, a field's text) across reloads.
    std::map<int, std::shared_ptr<platform::View>> controls_;
};

} // namespace app
