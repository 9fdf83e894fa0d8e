#pragma once
// A clean rich-media engine on a clean tracking library for one test: the tracking fixture
// (temporary device home, manual clock, Wi-Fi, log capture) plus the engine's shared objects
// (ad manager, ad server with its process-wide state, ad cache database) dropped before and
// after, and helpers to store ads and give them a folder in the cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "vellum/TrackingFixture.h"
#include "vellum/richmedia/MRCachedAdDatabase.h"
#include "vellum/richmedia/MREmbeddedBrowserController.h"
#include "vellum/richmedia/MRFullscreenContainer.h"
#include "vellum/richmedia/MRModalAdViewController.h"
#include "vellum/richmedia/VellumAdManager.h"
#include "vellum/richmedia/VellumAdView.h"
#include "vellum/richmedia/VellumCachedCloseButton.h"
#include "vellum/richmedia/VellumAdServer.h"

namespace richmediatest {

inline void resetEngine() {
    vellum::MREmbeddedBrowserController::resetForTesting();
    vellum::MRFullscreenContainer::resetForTesting();
    vellum::MRModalAdViewController::stopExpandableMovementTimer();
    vellum::VellumAdView::resetForTesting();
    vellum::VellumAdManager::resetForTesting();
    vellum::VellumAdServer::resetForTesting();
    vellum::MRCachedAdDatabase::resetForTesting();
    vellum::VellumCachedCloseButtonDatabase::resetForTesting();
}

class RichMediaFixture : public vellumtest::TrackingFixture {
public:
    RichMediaFixture() {
        resetEngine();
        setLogLevel("VERBOSE");
    }
    ~RichMediaFixture() override { resetEngine(); }

    std::filesystem::path cacheFolder() const { return home.root() / "Library" / "Vellum" / "MRAdCache"; }

    // The shared server (which opens the shared database).
    std::shared_ptr<vellum::VellumAdServer> server() {
        auto s = vellum::VellumAdServer::create();
        EXPECT_TRUE(s);
        return s;
    }
    vellum::MRCachedAdDatabase& db() {
        auto d = vellum::MRCachedAdDatabase::create();
        EXPECT_TRUE(d);
        return *d;
    }

    // An ad of that id and slot type, stored, with a folder in the cache.
    vellum::MRCachedAd storeAd(const std::string& id, platform::Dictionary control = {}) {
        control["adID"] = id;
        // Ads without an end date count as expired; these run for a month.
        if (!control.count("endDate"))
            control["endDate"] = kStartTime + 30 * 86400.0;
        auto ad = vellum::MRCachedAd::initWithDictionary(control);
        EXPECT_TRUE(db().updateOrInsertCachedAd(ad));
        makeFolder(id);
        return ad;
    }
    void makeFolder(const std::string& id) {
        std::filesystem::create_directories(cacheFolder() / id);
        std::ofstream(cacheFolder() / id / "index.html") << "<html></html>";
    }
};

// A slot as an ad view would describe it.
class TestSlot : public vellum::VellumAdSlot {
public:
    int type = 0;
    platform::Size size;
    std::optional<std::string> key;
    std::optional<vellum::StringList> keywords;
    std::optional<vellum::StringList> blockKeywords;

    int adSlotType() const override { return type; }
    platform::Size adSlotSize() const override { return size; }
    std::optional<std::string> adSlotKey() const override { return key; }
    std::optional<vellum::StringList> adSlotKeywords() const override { return keywords; }
    std::optional<vellum::StringList> adBlockKeywords() const override { return blockKeywords; }
};

} // namespace richmediatest
