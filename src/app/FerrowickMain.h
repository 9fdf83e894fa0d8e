#pragma once
// The drive application's entry point, and the few hooks the `ferrowick` runner uses.
//
// ferrowickMain is the program's `main` in spirit: it builds the application delegate, its
// window and the navigation controller from the main interface (MainInterface.h), launches
// the application object with them and runs the main loop until the application terminates,
// answering the loop's exit status. The runner handles its own options (device home,
// services, device profile, script) before calling it; argc and argv are passed on unread.
//
// launchFerrowick does the same without running the loop, for a runner that drives the main
// run loop itself, and for tests. Main thread only.
#include <memory>

#include "platform/foundation/Value.h"

namespace app {

class FerrowickAppDelegate;
class RootViewController;

int ferrowickMain(int argc, char** argv);
// With launch options, as the platform hands them to the delegate: an entry under
// "UIApplicationLaunchOptionsRemoteNotificationKey" makes it a launch by push.
int ferrowickMain(int argc, char** argv, const platform::Dictionary& launchOptions);

// Builds the main interface and launches the application; answers its delegate.
std::shared_ptr<FerrowickAppDelegate> launchFerrowick(const platform::Dictionary& launchOptions = {});

// The running application's delegate and root screen (null before launch).
std::shared_ptr<FerrowickAppDelegate> currentAppDelegate();
std::shared_ptr<RootViewController> currentRootViewController();

} // namespace app
