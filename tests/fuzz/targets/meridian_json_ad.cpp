// Meridian's JSON ad reply: any bytes make an ad model of one of the three kinds; a model
// archives into a record that reads back to the same archive.
#include "FuzzSupport.h"

#include "meridian/MRJSONAd.h"
#include "platform/archive/KeyedArchiver.h"
#include "support/TemporaryHome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::TemporaryHome home;
    meridian::MRJSONAd ad(fwfuzz::bytes(data, size), {});
    const int type = ad.adType();
    FUZZ_CHECK(type == meridian::MRJSONAd::kImageAd || type == meridian::MRJSONAd::kVideoAd ||
               type == meridian::MRJSONAd::kNoAd);

    const platform::Data written = platform::KeyedArchiver::archivedDataWithRootObject(ad);
    auto again = platform::KeyedUnarchiver::unarchiveObjectWithData(written, meridian::MRJSONAd::codingClasses());
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(platform::KeyedArchiver::archivedDataWithRootObject(*again) == written);
    return 0;
}
