#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

using namespace platform;

namespace {

struct Sender {
    std::string label;
};

struct Listener {
    std::vector<std::string> heard;
};

} // namespace

TEST(NotificationCenter, DeliversByNameAndSenderInRegistrationOrder) {
    NotificationCenter center;
    auto a = std::make_shared<Sender>(Sender{"a"});
    auto b = std::make_shared<Sender>(Sender{"b"});
    std::vector<std::string> log;
    center.addObserver("fileExtension", [&](const Notification& n) { log.push_back("any:" + n.name); });
    center.addObserver(
        "fileExtension",
        [&](const Notification& n) { log.push_back("from-a:" + n.objectAs<Sender>()->label); }, a.get());
    center.addObserver("", [&](const Notification& n) { log.push_back("all:" + n.name); });

    center.post("fileExtension", a);
    center.post("fileExtension", b);
    center.post("showFile", Dictionary{{"k", Value("v")}});
    EXPECT_EQ(log, (std::vector<std::string>{"any:fileExtension", "from-a:a", "all:fileExtension",
                                             "any:fileExtension", "all:fileExtension", "all:showFile"}));
}

TEST(NotificationCenter, ObjectAndUserInfoReachTheObserver) {
    NotificationCenter center;
    auto sender = std::make_shared<Sender>(Sender{"web view"});
    std::shared_ptr<Sender> got;
    std::shared_ptr<int> wrongType;
    Dictionary info;
    center.addObserver("loadAdURL", [&](const Notification& n) {
        got = n.objectAs<Sender>();
        wrongType = n.objectAs<int>();
        info = n.userInfo;
    });
    center.post("loadAdURL", sender, Dictionary{{"url", Value("http://x/")}, {"type", Value("1")}});
    EXPECT_EQ(got, sender);
    EXPECT_EQ(wrongType, nullptr);
    EXPECT_EQ(info.at("url").stringOr(""), "http://x/");

    // Any other object travels as std::any, with no sender identity.
    std::string text;
    center.addObserver("removemoreAppsView", [&](const Notification& n) {
        text = std::any_cast<std::string>(n.object) + "|" + (n.sender ? "sender" : "none");
    });
    center.post(Notification{"removemoreAppsView", std::string(""), nullptr, {}});
    EXPECT_EQ(text, "|none");
}

TEST(NotificationCenter, RemovalByTokenOwnerAndNameEvenDuringDelivery) {
    NotificationCenter center;
    int owner = 0, other = 0;
    std::vector<std::string> log;
    NotificationCenter::ObserverToken second;
    // The first observer removes the second while the notification is being delivered.
    center.addObserver("n", [&](const Notification&) {
        log.push_back("first");
        center.removeObserver(second);
    });
    second = center.addObserver("n", [&](const Notification&) { log.push_back("second"); });
    center.addObserver(
        "n", [&](const Notification&) { log.push_back("owned-n"); }, nullptr, &owner);
    center.addObserver(
        "m", [&](const Notification&) { log.push_back("owned-m"); }, nullptr, &owner);
    center.addObserver(
        "m", [&](const Notification&) { log.push_back("other-m"); }, nullptr, &other);

    center.post("n");
    EXPECT_EQ(log, (std::vector<std::string>{"first", "owned-n"}));

    log.clear();
    center.removeObserver(&owner, "n");
    center.post("n");
    center.post("m");
    EXPECT_EQ(log, (std::vector<std::string>{"first", "owned-m", "other-m"}));

    log.clear();
    center.removeObserver(&owner);
    center.post("m");
    EXPECT_EQ(log, (std::vector<std::string>{"other-m"}));
    EXPECT_EQ(center.observerCount(), 2u);
    center.removeObserver(NotificationCenter::ObserverToken{}); // an empty token is harmless
}

TEST(NotificationCenter, WeakOwnersNeverReceiveAfterDestruction) {
    NotificationCenter center;
    auto listener = std::make_shared<Listener>();
    std::weak_ptr<Listener> weak = listener;
    center.observe<Listener>(listener, "kNetworkReachabilityChangedNotification",
                             [](Listener& l, const Notification& n) { l.heard.push_back(n.name); });
    center.post("kNetworkReachabilityChangedNotification");
    EXPECT_EQ(listener->heard.size(), 1u);
    // The centre does not keep the listener alive, and forgets it once it is gone.
    listener.reset();
    EXPECT_TRUE(weak.expired());
    center.post("kNetworkReachabilityChangedNotification");
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, PostsFromManyThreadsWhileObserversChange) {
    NotificationCenter center;
    std::atomic<int> delivered{0};
    center.addObserver("tick", [&](const Notification&) { ++delivered; });
    constexpr int kThreads = 4, kPosts = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kPosts; ++i) {
                auto token = center.addObserver("tock", [](const Notification&) {});
                center.post("tick");
                center.removeObserver(token);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(delivered.load(), kThreads * kPosts);
    EXPECT_EQ(center.observerCount(), 1u);
}

TEST(NotificationCenter, DefaultCenterIsSharedAndResettable) {
    int heard = 0;
    NotificationCenter::defaultCenter().addObserver("backgroundPush", [&](const Notification&) { ++heard; });
    NotificationCenter::defaultCenter().post("backgroundPush");
    EXPECT_EQ(heard, 1);
    NotificationCenter::resetDefaultForTesting();
    NotificationCenter::defaultCenter().post("backgroundPush");
    EXPECT_EQ(heard, 1);
}
