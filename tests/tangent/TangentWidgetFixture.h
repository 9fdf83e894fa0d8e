#pragma once
// A host application for Tangent widgets against the loopback Tangent service: a delegate that
// records what the widget tells it, and a fixture with a key window, the manual clock and a
// clean client, which places widgets in the window and waits for their ads.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/net/URLConnection.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "services/TangentEndpoints.h"
#include "support/LoopbackServices.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TGAdWidget.h"
#include "tangent/TGAdWidgetDelegate.h"
#include "tangent/TGDeviceInfo.h"
#include "tangent/TGEventManager.h"

namespace tangenttest {

// Records the interaction and interstitial notices in `events`.
class RecordingWidgetHost : public tangent::TGAdWidgetDelegate {
public:
    std::optional<std::string> publisherId(tangent::TGAdWidgetWorker&) override { return publisher; }
    std::optional<bool> isInterstitial(tangent::TGAdWidgetWorker&) override { return interstitial; }
    std::shared_ptr<platform::ViewController> adViewController(tangent::TGAdWidgetWorker&) override {
        return controller;
    }
    void beginAdInteraction(tangent::TGAdWidgetWorker&) override { events.push_back("begin"); }
    void endAdInteraction(tangent::TGAdWidgetWorker&) override { events.push_back("end"); }
    void beginDisplayingInterstitial(tangent::TGAdWidgetWorker&) override { events.push_back("beginInterstitial"); }
    void endDisplayingInterstitial(tangent::TGAdWidgetWorker&) override { events.push_back("endInterstitial"); }
    void adWidgetDidFailToShowAd(tangent::TGAdWidgetWorker&, const std::optional<platform::Error>&) override {
        events.push_back("failedToShow");
    }

    std::optional<std::string> publisher = std::string("pub-1");
    bool interstitial = false;
    std::shared_ptr<platform::ViewController> controller;
    std::vector<std::string> events;
};

template <typename Host> struct WidgetFixture {
    WidgetFixture() {
        platform::Application::resetForTesting();
        platform::Device::resetForTesting();
        tangent::TGEventManager::resetForTesting();
        tangent::TGAdWidgetWorker::resetForTesting();
        services::installTangentEndpoints(services.host());
        window->makeKeyAndVisible();
    }
    ~WidgetFixture() {
        tangent::TGEventManager::resetForTesting();
        platform::URLConnection::cancelAllForTesting();
        platform::Application::resetForTesting();
        tangent::TGDeviceInfo::resetForTesting();
    }
    // Moves the clock on in small steps until `done` holds.
    bool waitFor(const std::function<bool()>& done) {
        return clock.runUntil([&] {
            clock.advance(0.02);
            return done();
        });
    }
    // A widget of this host, placed at `origin` in the window, with its ad shown.
    std::shared_ptr<tangent::TGAdWidgetWorker> shownWidget(platform::Point origin = {0, 430}) {
        auto widget = tangent::TGAdWidget::create(host, false);
        widget->setFrame(platform::Rect{origin, {320, 50}});
        window->addSubview(widget);
        widget->loadRequest();
        EXPECT_TRUE(waitFor([&] { return widget->currentAdView() != nullptr; }));
        return widget;
    }
    // An interstitial of this host, shown over a screen of the host's own (its root view
    // controller) or straight on the window.
    std::shared_ptr<tangent::TGAdWidgetWorker> shownInterstitial(bool overHostScreen) {
        host->interstitial = true;
        if (overHostScreen) {
            host->controller = std::make_shared<platform::ViewController>();
            window->setRootViewController(host->controller);
        }
        return shownWidget({0, 0});
    }

    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    fwtest::LoopbackServices services;
    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(platform::Screen::main().bounds());
    std::shared_ptr<Host> host = std::make_shared<Host>();
};

} // namespace tangenttest
