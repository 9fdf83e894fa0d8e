// The house promotions' replies and stored lists: the fetcher's reply check, each promotion
// view's reader of a reply (the push-news panel, the pop-up, the more-apps page, the wallpaper
// promotion and the banner host's news rotation), and the panel's list of seen items on disk.
// The reply check is strict JSON in UTF-8: a reply it accepts stops being one with anything
// after it, a comment before it, a comma before its closing bracket or its last character
// cut; a reply the pop-up no longer waits for ends it exactly once; each view keeps only dictionary entries
// of applications that are not installed; a closed page takes no reply; every picture download a reply starts
// ends.
#include "FuzzSupport.h"

#include <fstream>

#include "platform/foundation/Strings.h"
#include "platform/ui/Application.h"
#include "promo/AdViewController.h"
#include "promo/AsyncAdData.h"
#include "promo/ImageLoader.h"
#include "promo/MoreApps.h"
#include "promo/PopupController.h"
#include "promo/PromotionService.h"
#include "promo/PushNewsView.h"
#include "promo/WallpaperPromotion.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace {

std::optional<platform::Value> parse(std::string_view text) {
    return promo::AsyncAdData::parseReply(platform::Data(text.begin(), text.end()));
}

// A reply the check accepted, changed so that it is no strict JSON any more, is refused.
void checkStrict(std::string_view text, const platform::Value& reply) {
    FUZZ_CHECK(platform::isValidUTF8(text));
    FUZZ_CHECK(!parse(std::string(text) + " x"));
    FUZZ_CHECK(!parse("// a comment\n" + std::string(text)));
    // What may end a reply: white space, and NUL bytes (a padded buffer).
    const auto last = text.find_last_not_of(std::string_view(" \t\r\n\0", 5));
    FUZZ_CHECK(last != std::string_view::npos);
    if (reply.isArray() || reply.isDictionary()) {
        FUZZ_CHECK(text[last] == ']' || text[last] == '}');
        FUZZ_CHECK(!parse(std::string(text.substr(0, last)) + "," + std::string(text.substr(last))));
        FUZZ_CHECK(!parse(text.substr(0, last)));
    }
}

class PopupDelegate : public promo::PopupControllerDelegate {
public:
    int ends = 0;
    void removeSplashPage(const std::shared_ptr<platform::View>&, bool) override { ++ends; }
};

// The dictionary entries of `key` in the reply, split by whether their application is installed.
struct Entries {
    std::size_t offered = 0;
    std::size_t installed = 0;
};

Entries entriesOf(const std::optional<platform::Value>& reply, std::string_view key) {
    Entries counts;
    const platform::Value* list = reply && reply->isDictionary() ? reply->find(key) : nullptr;
    if (!list || !list->array())
        return counts;
    for (const auto& entry : *list->array()) {
        if (!entry.isDictionary())
            continue;
        const platform::Value* identity = entry.find("appIdentity");
        const std::string id = identity && identity->isString() ? identity->stringOr("") : "";
        if (promo::isApplicationInstalled(id))
            ++counts.installed;
        else
            ++counts.offered;
    }
    return counts;
}

// Every entry is a dictionary, and the first `offered` are of applications not installed.
bool offeredFirst(const platform::Array& list, std::size_t offered) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!list[i].isDictionary())
            return false;
        const platform::Value* identity = list[i].find("appIdentity");
        if (i < offered && identity && identity->isString() && promo::isApplicationInstalled(identity->stringOr("")))
            return false;
    }
    return true;
}

// Runs the main run loop until no picture download is running and nothing it handed back
// is left to run (a failed picture may start the next one).
void settleDownloads(fwtest::ManualClockScope& clock) {
    do {
        FUZZ_CHECK(clock.runUntil([] { return promo::backgroundImageDownloadsInFlight() == 0; }, 30.0));
        clock.drain();
    } while (promo::backgroundImageDownloadsInFlight() != 0);
}

void readAsMoreApps(const std::optional<platform::Value>& reply) {
    promo::isBack = false;
    promo::isTimeOut = false;
    promo::isInitial = true;
    auto page = std::make_shared<promo::MoreApps>();
    page->view();
    platform::RunLoop::main().drain(); // the page's own list request ends (no service here)
    promo::isTimeOut = false;
    promo::isInitial = true;
    page->jsonDataReturn(reply);
    const Entries counts = entriesOf(reply, "moreApps");
    const std::size_t rows = std::size_t(promo::MoreApps::kRowCount);
    const std::size_t fill = counts.offered >= rows ? 0 : std::min(counts.installed, rows - counts.offered);
    FUZZ_CHECK(page->listOfGameName().size() == counts.offered + fill);
    FUZZ_CHECK(offeredFirst(page->listOfGameName(), counts.offered));
    FUZZ_CHECK(promo::isInitial == (page->listOfGameName().size() < rows));
    FUZZ_CHECK(page->myTable() && page->myTable()->numberOfRowsInSection(0) ==
                                      static_cast<int>(std::min(page->listOfGameName().size(), rows)));

    // Closed, the page takes no reply.
    page->back();
    const std::size_t kept = page->listOfGameName().size();
    page->jsonDataReturn(reply);
    FUZZ_CHECK(page->listOfGameName().size() == kept);
    platform::RunLoop::main().drain();
    promo::isBack = false;
}

void readAsWallpaper(const std::optional<platform::Value>& reply, fwtest::ManualClockScope& clock) {
    auto promotion = std::make_shared<promo::WallpaperPromotion>();
    promotion->jsonDataReturn(reply);
    const Entries counts = entriesOf(reply, "dataTable");
    FUZZ_CHECK(promotion->promotionDataArray().size() == (counts.offered > 0 ? 1u : 0u));
    FUZZ_CHECK(offeredFirst(promotion->promotionDataArray(), 1));
    settleDownloads(clock);
}

void readAsNewsRotation(const std::optional<platform::Value>& reply, fwtest::ManualClockScope& clock) {
    auto host = std::make_shared<promo::AdViewController>(platform::Rect(0, 383, 320, 53));
    platform::RunLoop::main().drain(); // the host's own news request ends (no service here)
    const std::size_t before = host->dataArray().size();
    host->jsonDataReturn(reply);
    const Entries counts = entriesOf(reply, "newsData");
    const platform::Value* news = reply && reply->isDictionary() ? reply->find("newsData") : nullptr;
    const bool taken = news && news->array() && !news->array()->empty();
    FUZZ_CHECK(host->dataArray().size() == (taken ? counts.offered : before));
    FUZZ_CHECK(offeredFirst(host->dataArray(), host->dataArray().size()));
    settleDownloads(clock);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    platform::Application::resetForTesting();
    platform::Application::shared().setInstalledSchemes({"ferrowickphoto", "b"});
    const platform::Data bytes = fwfuzz::bytes(data, size);
    const auto reply = promo::AsyncAdData::parseReply(bytes);
    if (reply)
        checkStrict(fwfuzz::text(data, size), *reply);

    // The same bytes as the panel's stored list of seen items.
    {
        std::ofstream out(promo::PushNewsView::dataFilePath(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto panel = std::make_shared<promo::PushNewsView>();
    (void)panel->checkItforPreviousSeen();
    panel->jsonDataReturn(reply);

    auto popUp = std::make_shared<promo::PopupController>();
    auto delegate = std::make_shared<PopupDelegate>();
    popUp->setDelegate(delegate);
    popUp->initPopUp();
    popUp->jsonDataReturn(reply);
    FUZZ_CHECK(delegate->ends == 1);
    clock.drain();

    readAsMoreApps(reply);
    readAsWallpaper(reply, clock);
    readAsNewsRotation(reply, clock);
    return 0;
}
