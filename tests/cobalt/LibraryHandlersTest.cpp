// The script-facing handlers behind a real page: BridgeCocoa's calls by name with their
// refusals and the bounds on what one script may hold natively, and BridgeLib's execution
// mode with numbers out of every range.
#include <climits>

#include "CobaltTestSupport.h"
#include "cobalt/CBJavascriptBridge.h"
#include "cobalt/CBLibraryHandlers.h"

namespace {

using namespace cobalt;
using platform::Value;

class LibraryHandlersTest : public cobalttest::CobaltTest {
protected:
    void SetUp() override {
        webView = std::make_shared<platform::WebView>();
        bridge = CBJavascriptBridge::bridgeInMode(CBJavascriptBridge::kBG, webView, nullptr);
        library = std::make_shared<CBStandardCommandHandler>();
        cocoa = std::make_shared<CBCocoaCommandHandler>();
        bridge->addCommandHandler(library);
        bridge->addCommandHandler(cocoa);
        bridge->loadJavascriptString("var loaded = 1;", "", platform::URL::parse("file:///tmp/"));
        ASSERT_TRUE(waitFor([&] { return !bridge->isLoading() && bridge->isCBJSLoaded(); }, 0.01));
    }
    void TearDown() override { bridge->halt(); }

    // Runs `script` in the page, polls until its commands are done and answers `window.r`
    // ("" while it is undefined).
    std::string run(const std::string& script) {
        webView->stringByEvaluatingJavaScriptFromString("window.r = undefined; " + script);
        // A command that fails to parse counts as none in its poll: poll until the queue is empty.
        while (webView->stringByEvaluatingJavaScriptFromString("g_commandQueue.length") != "0")
            bridge->poll();
        return webView->stringByEvaluatingJavaScriptFromString("window.r");
    }
    // The text behind a handle answered to the page.
    std::string valueOf(const std::string& handle) {
        auto object = cocoa->bridgedObjectForKey(handle);
        if (!object || !*object || !(*object)->value.string())
            return "<none>";
        return *(*object)->value.string();
    }
    static std::string quoted(const std::string& text) { return "\"" + text + "\""; }

    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<CBJavascriptBridge> bridge;
    std::shared_ptr<CBStandardCommandHandler> library;
    std::shared_ptr<CBCocoaCommandHandler> cocoa;
};

TEST_F(LibraryHandlersTest, RefusedCallsAnswerTheHandleOfTheirErrorName) {
    const std::string text = run(
        R"(BridgeCocoa.performSelectorOnClassWithObjectWithCallback("stringWithString:", "NSString", "abc", "window.r=%s");)");
    ASSERT_EQ(valueOf(text), "abc");
    const std::string released = run(
        R"(BridgeCocoa.performSelectorOnClassWithObjectWithCallback("stringWithString:", "NSString", "gone", "window.r=%s");)");
    // A handle names its object's address: holding the released object here keeps a later
    // object from taking that address, and so the released handle, while the cases run.
    const auto releasedObject = cocoa->bridgedObjectForKey(released);
    ASSERT_TRUE(releasedObject);
    run("BridgeCocoa.releaseObject(" + quoted(released) + ");");
    ASSERT_FALSE(cocoa->bridgedObjectForKey(released));

    struct Case {
        const char* what;
        std::string script;
        const char* answer;
    };
    const Case cases[] = {
        {"a class outside the allow-list",
         R"(BridgeCocoa.performSelectorOnClassWithCallback("terminate", "UIApplication", "window.r=%s");)",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"a method the class does not have",
         R"(BridgeCocoa.performSelectorOnClassWithCallback("alloc", "NSString", "window.r=%s");)",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"an argument too many for the method",
         "BridgeCocoa.performSelectorOnObjectWithObjectWithCallback(\"length\", " + quoted(text) +
             ", \"x\", \"window.r=%s\");",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"a released handle as target",
         "BridgeCocoa.performSelectorOnObjectWithCallback(\"uppercaseString\", " + quoted(released) +
             ", \"window.r=%s\");",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"a text that is not a handle as target",
         R"(BridgeCocoa.performSelectorOnObjectWithCallback("uppercaseString", "abc", "window.r=%s");)",
         CBCocoaCommandHandler::kDoesNotRespond},
        {"three arguments, by command text",
         "sendCommand('performSelector:\"uppercaseString\" onObject:\"" + text +
             "\" withObjects:\"a\" withObjects:\"b\" withObjects:\"c\" withCallback:\"window.r=%s\"');",
         nullptr},
        {"an allowed call",
         "BridgeCocoa.performSelectorOnObjectWithCallback(\"uppercaseString\", " + quoted(text) +
             ", \"window.r=%s\");",
         "ABC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string handle = run(c.script);
        if (!c.answer) {
            // Not a command of the table: nothing is answered.
            EXPECT_EQ(handle, "");
            continue;
        }
        ASSERT_TRUE(CBCocoaCommandHandler::isObjectHandle(handle)) << handle;
        EXPECT_EQ(valueOf(handle), c.answer);
    }
    // More than two arguments reach only the native call, which refuses them by name.
    std::string answered;
    cocoa->performSelector("stringByAppendingString:", text, false, {Value("a"), Value("b"), Value("c")},
                           "window.r=%s");
    answered = webView->stringByEvaluatingJavaScriptFromString("window.r");
    EXPECT_EQ(valueOf(answered), CBCocoaCommandHandler::kTooManyArguments);
}

TEST_F(LibraryHandlersTest, WhatOneScriptHoldsNativelyIsBounded) {
    // A text doubled again and again stops at the bound of one text.
    std::string handle = run(
        R"(BridgeCocoa.performSelectorOnClassWithObjectWithCallback("stringWithString:", "NSString", "0123456789abcdef", "window.r=%s");)");
    std::size_t length = 16;
    for (int i = 0; i < 16; ++i) {
        const std::string next =
            run("BridgeCocoa.performSelectorOnObjectWithObjectWithCallback(\"stringByAppendingString:\", " +
                quoted(handle) + ", " + quoted(handle) + ", \"window.r=%s\");");
        ASSERT_TRUE(CBCocoaCommandHandler::isObjectHandle(next));
        if (valueOf(next) == CBCocoaCommandHandler::kDoesNotRespond)
            break;
        length *= 2;
        handle = next;
    }
    EXPECT_EQ(length, CBCocoaCommandHandler::kMaxObjectBytes);
    EXPECT_EQ(valueOf(handle).size(), CBCocoaCommandHandler::kMaxObjectBytes);
    // A text past the bound is refused as an argument too.
    const std::string big(CBCocoaCommandHandler::kMaxObjectBytes + 1, 'x');
    EXPECT_EQ(
        valueOf(run(
            R"(BridgeCocoa.performSelectorOnClassWithObjectWithCallback("stringWithString:", "NSString", ")" +
            big + R"(", "window.r=%s");)")),
        CBCocoaCommandHandler::kDoesNotRespond);

    // The total of live texts is bounded: copies of the largest text fill it.
    std::vector<std::string> copies;
    for (std::size_t i = 0;
         i < CBCocoaCommandHandler::kMaxBridgedBytes / CBCocoaCommandHandler::kMaxObjectBytes + 1; ++i)
        copies.push_back(
            run("BridgeCocoa.performSelectorOnObjectWithObjectWithCallback(\"stringByAppendingString:\", " +
                quoted(handle) + ", \"\", \"window.r=%s\");"));
    EXPECT_EQ(valueOf(copies.back()), CBCocoaCommandHandler::kDoesNotRespond);
    EXPECT_LE(cocoa->bridgedBytes(), CBCocoaCommandHandler::kMaxBridgedBytes);
    // Releasing makes room again.
    for (std::size_t i = 0; i + 1 < copies.size(); ++i)
        run("BridgeCocoa.releaseObject(" + quoted(copies[i]) + ");");
    EXPECT_EQ(valueOf(run("BridgeCocoa.performSelectorOnObjectWithCallback(\"lowercaseString\", " +
                          quoted(handle) + ", \"window.r=%s\");"))
                  .size(),
              CBCocoaCommandHandler::kMaxObjectBytes);

    // The count of live handles is bounded, and refusals never add to it.
    cocoa->removeAllBridgedObjects();
    std::string last;
    for (std::size_t i = 0; i < CBCocoaCommandHandler::kMaxBridgedObjects + 5; ++i)
        last =
            cocoa->addBridgedObject(std::make_shared<CBBridgedObject>(CBBridgedObject{"NSNumber", Value(1)}));
    EXPECT_EQ(cocoa->bridgedObjectCount(), CBCocoaCommandHandler::kMaxBridgedObjects + 1);
    EXPECT_EQ(valueOf(last), CBCocoaCommandHandler::kDoesNotRespond);
    EXPECT_EQ(
        valueOf(run(R"(BridgeCocoa.performSelectorOnClassWithCallback("date", "NSDate", "window.r=%s");)")),
        CBCocoaCommandHandler::kDoesNotRespond);
}

TEST_F(LibraryHandlersTest, ExecutionModesOutOfRangeAreClamped) {
    struct Case {
        const char* mode;
        const char* answer;
    };
    const Case cases[] = {
        {"1", "1"},   {"0", "0"},        {"1e300", "2147483647"}, {"-1e300", "-2147483648"},
        {"1.9", "1"}, {"Infinity", "1"}, // not a number the command text carries: the mode stays
        {"NaN", "1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        if (std::string(c.mode) == "Infinity")
            run("BridgeLib.setExecMode(1);");
        EXPECT_EQ(run(std::string("BridgeLib.setExecMode(") + c.mode +
                      "); BridgeLib.getExecModeWithCallback('window.r=%d');"),
                  c.answer);
    }
}

} // namespace
