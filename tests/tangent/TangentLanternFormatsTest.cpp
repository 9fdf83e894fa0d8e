// The script library's ad-format adapters and automatic dismissal, driven through a real page
// in the ad view: each format's own functions reach the native side as the library's resize,
// interaction and dismiss commands.
#include <gtest/gtest.h>

#include "platform/foundation/Log.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"
#include "tangent/TangentTestSupport.h"
#include "tangent/TGAdView.h"
#include "tangent/TGDelegateAdaptor.h"

using namespace tangent;

namespace {

struct NullListener : TGStateListener {
    void tgAdViewDidUpdateSyncState(TGAdView&, int) override {}
    void tgAdViewDidTransitionFromViewState(TGAdView&, int, int, const std::optional<platform::Error>&) override {}
};

// Writes each command it gets as "selector" plus, for resizes, "(width,height,transition)".
struct CommandRecorder : TGLanternClient {
    std::vector<std::string> commands;
    std::vector<std::string> callbacks; // the callback scripts of the resizes
    void rotate() override {}
    void beginDisplayInView(const std::shared_ptr<platform::View>&) override {}
    void setWorking(bool) override {}
    void endDisplay() override {}
    bool respondsToLantern(std::string_view selector) const override {
        return selector == "beginAdInteraction:" || selector == "endAdInteraction:" ||
               selector == "width:height:transition:callback:options:" ||
               selector == "restoreTransition:callback:options:" || selector == "dismiss:" ||
               selector == "autoWidth:height:transition:callback:options:";
    }
    bool lanternCommand(std::string_view selector, const TGLanternArguments& a) override {
        auto arg = [&](std::size_t i) { return i < a.size() && a[i] ? *a[i] : std::string(); };
        std::string line(selector);
        if (selector == "width:height:transition:callback:options:") {
            line = "expand(" + arg(0) + "," + arg(1) + "," + arg(2) + ")";
            callbacks.push_back(arg(3));
        } else if (selector == "autoWidth:height:transition:callback:options:")
            line = "autoExpand(" + arg(0) + "," + arg(1) + "," + arg(2) + ")";
        else if (selector == "restoreTransition:callback:options:")
            line = "restore(" + arg(0) + ")";
        else if (selector == "dismiss:")
            line = "dismiss(" + arg(0) + ")";
        commands.push_back(line);
        return true;
    }
};

struct PageFixture {
    PageFixture() {
        EXPECT_TRUE(adView->loadAdContent("<div id='tgGallery'>Gallery</div>"));
        EXPECT_TRUE(clock.runUntil([&] {
            clock.advance(0.02);
            return adView->currentViewState() == loadedState;
        }));
        adView->setAdWrapper(recorder);
    }
    // Lets the page's command queue run for `seconds`.
    void run(double seconds) {
        for (double t = 0; t < seconds; t += 0.01)
            clock.advance(0.01);
    }
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    std::shared_ptr<NullListener> listener = std::make_shared<NullListener>();
    std::shared_ptr<TGAdView> adView =
        TGAdView::create({0, 0, 320, 50}, std::make_shared<TGDelegateAdaptorImmutable>(), listener);
    std::shared_ptr<CommandRecorder> recorder = std::make_shared<CommandRecorder>();
};

} // namespace

TEST(TangentLantern, AdFormatsMapOntoTheLibrary) {
    struct Case {
        const char* name;
        const char* prelude; // the ad's own script, before the adaptation
        const char* options;
        const char* script;
        std::vector<std::string> commands;
    };
    const std::vector<std::string> plainCycle = {"expand(320,250,0)", "beginAdInteraction:", "restore(0)",
                                                 "endAdInteraction:"};
    const Case cases[] = {
        {"legacy toggle with its own transition numbers", "", "{}",
         "tg_set_frame_size(320, 300, 2); tg_set_frame_size(320, 50, 3);",
         {"expand(320,300,3)", "beginAdInteraction:", "restore(2)", "endAdInteraction:"}},
        {"legacy transition outside its table", "", "{}", "tg_set_frame_size(320, 300, 7);",
         {"expand(320,300,0)", "beginAdInteraction:"}},
        {"gallery touches", "", "{}",
         "var g = document.getElementById('tgGallery'); g.ontouchstart(); g.ontouchend();",
         {"beginAdInteraction:", "endAdInteraction:"}},
        {"eyeWonder", "", "{}", "ewExpand(320, 250); ewCollapse();", plainCycle},
        {"pointRoll", "", "{}", "prExpand(320, 250); prCollapse();", plainCycle},
        {"crisp", "", "{}", "crispExpand(320, 250); crispClose();", plainCycle},
        {"a format switched off keeps the ad's own functions", "window.crispExpand = function () {};",
         "{crisp: false}", "crispExpand(320, 250); ewExpand(320, 250);", {"expand(320,250,0)", "beginAdInteraction:"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageFixture f;
        f.adView->evalJS("Lantern.beginDisplay();" + std::string(c.prelude) + "Lantern.adaptAdFormats(" +
                         std::string(c.options) + ");");
        f.adView->evalJS(c.script);
        f.run(0.2);
        EXPECT_EQ(f.recorder->commands, c.commands);
    }
}

TEST(TangentLantern, LegacyNavigateOpensTheUri) {
    tangenttest::TGLogScope logLevel(2);
    platform::LogCapture log;
    PageFixture f;
    f.adView->evalJS("Lantern.beginDisplay(); Lantern.adaptAdFormats({}); tg_navigate('http://tangent.example/go');");
    f.run(0.1);
    EXPECT_TRUE(log.contains("    URI: http://tangent.example/go"));
}

TEST(TangentLantern, AutoDismissCountsFromTheDisplay) {
    PageFixture f;
    f.adView->evalJS("Lantern.autoDismiss(3);");
    f.run(4);
    EXPECT_TRUE(f.recorder->commands.empty()); // not displayed yet
    f.adView->evalJS("Lantern.beginDisplay();");
    f.run(2.9);
    EXPECT_TRUE(f.recorder->commands.empty());
    f.run(0.2);
    EXPECT_EQ(f.recorder->commands, std::vector<std::string>{"dismiss(true)"});
}

TEST(TangentLantern, AutoExpandSendsTheAutomaticResize) {
    PageFixture f;
    f.adView->evalJS("Lantern.beginDisplay(); Lantern.autoExpandTo(320, 250, null, 'FlipFromRight');");
    f.run(0.1);
    EXPECT_EQ(f.recorder->commands, std::vector<std::string>{"autoExpand(320,250,2)"});
}

TEST(TangentLantern, CallbacksRunOnceAsFunctionsOrScriptTextAndAnswerAStatus) {
    struct Case {
        const char* name;
        const char* callback; // script for the expansion's callback argument
        const char* status;   // how the status begins
        const char* effect;   // window.done afterwards
    };
    const Case cases[] = {
        {"a function", "function () { window.done = 'function'; }", "executeCallback: Success", "function"},
        {"script text", "\"window.done = 'text'\"", "executeCallback: Success", "text"},
        {"a callback that throws", "function () { throw new Error('boom'); }", "executeCallback: Error", "none"},
        {"neither function nor text", "42", "executeCallback: Invalid callback", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageFixture f;
        f.adView->evalJS("window.done = 'none'; Lantern.beginDisplay(); Lantern.expandTo(320, 250, " +
                         std::string(c.callback) + ", 'None');");
        f.run(0.1);
        ASSERT_EQ(f.recorder->callbacks.size(), 1u);
        // The native side calls back with the script the ad view made from the callback id.
        const auto& script = f.recorder->callbacks[0];
        EXPECT_EQ(script.rfind("Lantern.executeCallback('LanternCB-", 0), 0u) << script;
        EXPECT_EQ(f.adView->evalJS(script).rfind(c.status, 0), 0u) << f.adView->evalJS("window.done");
        EXPECT_EQ(f.adView->evalJS("window.done"), c.effect);
        // A callback runs once.
        EXPECT_EQ(f.adView->evalJS(script).rfind("executeCallback: Unknown callback", 0), 0u);
    }
}

TEST(TangentLantern, ClientAndPageLogLinesFollowTheLogLevel) {
    struct Case {
        std::optional<int> level;
        bool pageLine;   // the page's log line (for the host's developer)
        bool clientLine; // the client's own trace of the page's load
    };
    for (const Case c : {Case{std::nullopt, false, false}, Case{1, true, false}, Case{2, true, true}}) {
        SCOPED_TRACE(c.level ? std::to_string(*c.level) : "off");
        tangenttest::TGLogScope logLevel(c.level);
        platform::LogCapture log;
        PageFixture f;
        f.adView->evalJS("Lantern.beginDisplay(); Lantern.log('hello');");
        // The command has been sent and answered when the queue is empty and released.
        ASSERT_TRUE(f.clock.runUntil([&] {
            f.clock.advance(0.01);
            return f.adView->evalJS("String(Lantern.queue.length === 0 && !Lantern.waiting)") == "true";
        }));
        EXPECT_EQ(log.contains("Tangent: LanternLog: hello"), c.pageLine);
        EXPECT_EQ(log.contains("== Lantern Load State: onload"), c.clientLine);
        EXPECT_EQ(log.contains("Is Interstitial? No"), c.clientLine);
    }
}
