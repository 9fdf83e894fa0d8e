#pragma once
// The application's interface files as builder functions: each makes the views of one file
// and connects its outlets and actions, as loading the file would.
//
//   loadMainInterface()          the main interface: the application delegate with its
//                                window and the navigation controller whose root screen is
//                                RootViewController (the root's own view loads later, when
//                                the navigation view is first shown)
//   loadRootViewInterface(root)  the root screen's view: toolbar, file table, storage panel,
//                                pass-code panel and the row of action buttons
//   loadSettingsViewInterface    "SettingsView": the settings table
//   loadHelpPageInterface        "HelpPage": the paging scroll view of the help images
//
// Frames come from the drive layout (app/DriveLayout.h): the phone's fixed figures on a
// phone, the same relations on the device's screen otherwise. Main thread only.
#include <memory>

namespace app {

class FerrowickAppDelegate;
class RootViewController;
class SettingsView;
class HelpPage;

std::shared_ptr<FerrowickAppDelegate> loadMainInterface();
void loadRootViewInterface(RootViewController& root);
void loadSettingsViewInterface(SettingsView& settings);
void loadHelpPageInterface(HelpPage& help);

} // namespace app
