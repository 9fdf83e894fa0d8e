// The script bridge with a real page: command texts (parse, escape, batches), the generated
// handler objects, polling intervals on the manual clock, and native-to-page commands around
// page loads.
#include <cmath>

#include "CobaltTestSupport.h"
#include "cobalt/CBCommandHandler.h"
#include "cobalt/CBJavascriptBridge.h"

namespace {

using namespace cobalt;
using platform::Value;

// A handler that records every call it gets.
class RecordingHandler : public CBCommandHandler {
public:
    RecordingHandler() : CBCommandHandler("BridgeTest") {
        for (const char* selector : {"bridge_ping", "bridge_say:", "bridge_report:dlTime:expiration:"})
            addMethod(selector, [this, selector](const Arguments& a) { calls.push_back({selector, a}); });
        addMethod("bridge_fail:", [](const Arguments&) { throw std::runtime_error("handler failure"); });
        addMethod("nativeOnly:", [this](const Arguments& a) { calls.push_back({"nativeOnly:", a}); });
    }
    struct Call {
        std::string selector;
        Arguments arguments;
    };
    std::vector<Call> calls;
};

class BridgeTest : public cobalttest::CobaltTest {
protected:
    void SetUp() override {
        webView = std::make_shared<platform::WebView>();
        handler = std::make_shared<RecordingHandler>();
        bridge = CBJavascriptBridge::bridgeInMode(CBJavascriptBridge::kBG, webView, handler);
        bridge->loadJavascriptString("var loaded = 1;", "", platform::URL::parse("file:///tmp/"));
        ASSERT_TRUE(waitFor([&] { return !bridge->isLoading() && bridge->isCBJSLoaded(); }, 0.01));
    }
    void TearDown() override { bridge->halt(); }
    void queue(const std::string& script) { webView->stringByEvaluatingJavaScriptFromString(script); }

    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<RecordingHandler> handler;
    std::shared_ptr<CBJavascriptBridge> bridge;
};

TEST(CommandParser, TextsBecomeSelectorsAndArguments) {
    struct Case {
        const char* text;
        const char* selector;
        std::vector<Value> arguments;
    };
    const Case cases[] = {
        {"bridge_setState:\"1\"", "bridge_setState:", {Value("1")}},
        {"setPollingInterval:0.5;", "setPollingInterval:", {Value(0.5)}},
        {"setExecMode:yes", "setExecMode:", {Value(1.0)}},
        {"setExecMode:FALSE", "setExecMode:", {Value(0.0)}},
        {"bridge_notifyInitSucceeded;", "bridge_notifyInitSucceeded", {}},
        {"bridge_a:\"x: y z\" b:\"w\";", "bridge_a:b:", {Value("x: y z"), Value("w")}},
        {"  bridge_a:  \"1\"   b:2 ", "bridge_a:b:", {Value("1"), Value(2.0)}},
        {R"(bridge_a:"say \"hi\"; \\ then\nmore")", "bridge_a:", {Value("say \"hi\"; \\ then\nmore")}},
        {"bridge_a:\"\"", "bridge_a:", {Value("")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto parsed = CBJavascriptBridge::parseCommand(c.text);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->selector, c.selector);
        EXPECT_EQ(parsed->arguments, c.arguments);
    }
    for (const char* refused : {"", ";", "bridge_a:", "bridge_a:\"open", "bridge_a:nan", "bridge_a:inf b:1"}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(CBJavascriptBridge::parseCommand(refused));
    }
}

TEST(CommandHandler, CallbackTemplatesTakeTheirOneValueOnly) {
    EXPECT_EQ(CBCommandHandler::fillTextCallback("gotDelay(%s)", "60", true), "gotDelay(\"60\")");
    EXPECT_EQ(CBCommandHandler::fillTextCallback("f(%s, '%s %d %n')", "a\"b</c", true), "f(\"a\\\"b\\u003c/c\", '%s %d %n')");
    EXPECT_EQ(CBCommandHandler::fillTextCallback("f(\"%s\")", "x\ny", false), "f(\"x\\ny\")");
    EXPECT_EQ(CBCommandHandler::fillIntegerCallback("m(%d); p(%d %s %x)", 1), "m(1); p(%d %s %x)");
    EXPECT_EQ(CBCommandHandler::fillIntegerCallback("r(%qi)", -5), "r(-5)");
    EXPECT_EQ(CBCommandHandler::fillIntegerCallback("no conversion %", 3), "no conversion %");
}

TEST_F(BridgeTest, GeneratedFunctionsCarryEveryArgumentWhole) {
    const std::string script = bridge->bridgeScript();
    EXPECT_NE(script.find("self.reportDlTimeExpiration = function(a_report, a_dlTime, a_expiration)"), std::string::npos);
    EXPECT_EQ(script.find("nativeOnly"), std::string::npos) << "only bridge_ methods are published";

    // Without an engine the page is polled in background mode: one command per tick.
    queue(R"(BridgeTest.ping(); BridgeTest.say('quote " blank ; semicolon\nline'); BridgeTest.reportDlTimeExpiration("s", 12, 3.5);)");
    time.advance(0.5);
    ASSERT_EQ(handler->calls.size(), 1u);
    time.advance(1.0);
    ASSERT_EQ(handler->calls.size(), 3u);
    EXPECT_EQ(handler->calls[0].selector, "bridge_ping");
    EXPECT_EQ(handler->calls[1].arguments, (std::vector<Value>{Value("quote \" blank ; semicolon\nline")}));
    EXPECT_EQ(handler->calls[2].arguments, (std::vector<Value>{Value("s"), Value("12"), Value("3.5")}));
}

TEST_F(BridgeTest, FailingOrUnknownCommandsDoNotCostTheRestOfTheBatch) {
    queue(R"(sendCommand("bridge_ping;\nbridge_fail:\"x\";\nbridge_nothing;\nrelease;\nbridge_say:\"a\" extra:\"b\";\nbridge_say:\"last\";");)");
    EXPECT_EQ(bridge->poll(), 2); // ping and the last say
    ASSERT_EQ(handler->calls.size(), 2u);
    EXPECT_EQ(handler->calls[1].arguments, (std::vector<Value>{Value("last")}));
    EXPECT_EQ(bridge->poll(), 0) << "an empty queue answers nothing";
}

TEST_F(BridgeTest, PollingIntervalsFollowModeAndOverride) {
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 0.5);
    bridge->handleExecModeUpdate(CBJavascriptBridge::kFG);
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 1.0 / 15.0);
    bridge->handleExecModeUpdate(7);
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 1.0 / 15.0) << "an unknown mode changes nothing";
    for (double refused : {0.02, 1.5, std::nan("")})
        bridge->setPollingIntervalOverride(refused);
    EXPECT_FALSE(bridge->pollingIntervalOverride());
    bridge->setPollingIntervalOverride(1.0);
    bridge->handleExecModeUpdate(CBJavascriptBridge::kBG);
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 1.0);
    bridge->setPollingInterval(0.001);
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 1.0 / 30.0) << "never below 1/30 s";

    // A page command may set the interval; the timer then polls at that pace.
    bridge->setPollingInterval(0.5);
    queue("Bridge.setPollingInterval(0.25); BridgeTest.ping(); BridgeTest.ping();");
    time.advance(0.5);
    EXPECT_DOUBLE_EQ(bridge->pollingInterval(), 0.25);
    time.advance(0.5);
    EXPECT_EQ(handler->calls.size(), 2u);

    platform::Device::setProfile(platform::DeviceProfile::Tablet);
    EXPECT_DOUBLE_EQ(CBJavascriptBridge::pollingIntervalForMode(CBJavascriptBridge::kBG), 1.0 / 30.0);
}

TEST_F(BridgeTest, CommandsSentDuringALoadRunWhenItEnds) {
    bridge->loadJavascriptString("var second = 2;", "", platform::URL::parse("file:///tmp/"));
    EXPECT_TRUE(bridge->isLoading());
    bridge->sendJavascriptCommand("window.sent = second + 1");
    EXPECT_EQ(bridge->pendingJavascriptCommandCount(), 1u);
    ASSERT_TRUE(waitFor([&] { return !bridge->isLoading(); }, 0.01));
    EXPECT_EQ(webView->stringByEvaluatingJavaScriptFromString("window.sent"), "3");
    EXPECT_TRUE(bridge->isPolling());
    // A script error in a native command is swallowed by the page.
    EXPECT_EQ(bridge->executeJavascriptCommand("undefinedFunction()"), "");
}

} // namespace
