// The house promotions' replies and stored lists: the fetcher's reply check, the push-news
// panel's and the pop-up's readers of a reply, and the panel's list of seen items on disk.
// The reply check is strict JSON (what it accepts is what the JSON reader accepts); a reply
// the pop-up no longer waits for ends it exactly once.
#include "FuzzSupport.h"

#include <fstream>

#include "promo/AsyncAdData.h"
#include "promo/PopupController.h"
#include "promo/PushNewsView.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace {

class PopupDelegate : public promo::PopupControllerDelegate {
public:
    int ends = 0;
    void removeSplashPage(const std::shared_ptr<platform::View>&, bool) override { ++ends; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    const platform::Data bytes = fwfuzz::bytes(data, size);
    const auto reply = promo::AsyncAdData::parseReply(bytes);
    if (reply)
        FUZZ_CHECK(platform::Value::fromJSON(fwfuzz::text(data, size)).has_value());

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
    return 0;
}
