#include "app/FerrowickMain.h"

#include "app/FerrowickAppDelegate.h"
#include "app/MainInterface.h"
#include "app/RootViewController.h"
#include "platform/ui/Application.h"

namespace app {

std::shared_ptr<FerrowickAppDelegate> launchFerrowick(const platform::Dictionary& launchOptions) {
    auto delegate = loadMainInterface();
    platform::Application::shared().launch(delegate, launchOptions);
    return delegate;
}

int ferrowickMain(int argc, char** argv, const platform::Dictionary& launchOptions) {
    (void)argc;
    (void)argv;
    launchFerrowick(launchOptions);
    return platform::Application::shared().run();
}

int ferrowickMain(int argc, char** argv) {
    return ferrowickMain(argc, argv, {});
}

std::shared_ptr<FerrowickAppDelegate> currentAppDelegate() {
    return std::dynamic_pointer_cast<FerrowickAppDelegate>(platform::Application::shared().delegate());
}

std::shared_ptr<RootViewController> currentRootViewController() {
    auto delegate = currentAppDelegate();
    if (!delegate || !delegate->navigationController())
        return nullptr;
    auto controllers = delegate->navigationController()->viewControllers();
    return controllers.empty() ? nullptr : std::dynamic_pointer_cast<RootViewController>(controllers.front());
}

} // namespace app
