// The tracking library's Thrift structs and the upload's replies: the first byte picks a
// struct, the rest is read as that struct. Reading never fails hard; what was read writes
// back into bytes that read to the same struct, and the keyed-archive form of its fields
// gives the same struct back.
#include "FuzzSupport.h"

#include <span>
#include <vector>

#include "platform/archive/KeyedArchiver.h"
#include "vellum/tracking/BroadcastData.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/Event.h"
#include "vellum/tracking/MRClientRequest.h"
#include "vellum/tracking/MREventValues.h"
#include "vellum/tracking/MRSlotZeroResponse.h"
#include "vellum/tracking/Run.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/TNSDataTransport.h"
#include "vellum/tracking/VellumAdEvent.h"

namespace {

template <typename S> std::vector<std::uint8_t> written(const S& s) {
    std::vector<std::uint8_t> bytes;
    vellum::TBinaryProtocol protocol(std::make_shared<vellum::TNSDataTransport>(bytes));
    s.write(protocol);
    return bytes;
}

// Structs are compared by their written bytes: a real field may hold NaN, which equals
// nothing, not even itself.
template <typename S> void check(std::span<const std::uint8_t> bytes) {
    S read;
    {
        vellum::TBinaryProtocol protocol(std::make_shared<vellum::TNSDataTransport>(bytes));
        read.read(protocol);
    }
    (void)read.description();
    const auto first = written(read);

    S again;
    {
        vellum::TBinaryProtocol protocol(
            std::make_shared<vellum::TNSDataTransport>(std::span<const std::uint8_t>(first.data(), first.size())));
        again.read(protocol);
        FUZZ_CHECK(!protocol.readError());
    }
    FUZZ_CHECK(written(again) == first);

    S fromFields;
    fromFields.setKeyedFields(read.keyedFields());
    FUZZ_CHECK(written(fromFields) == first);
}

using Check = void (*)(std::span<const std::uint8_t>);
constexpr Check kStructs[] = {
    check<vellum::MRSlotZeroResponse>, check<vellum::ECActionResponse>, check<vellum::MRClientRequest>,
    check<vellum::BroadcastData>,      check<vellum::Run>,              check<vellum::Event>,
    check<vellum::VellumAdEvent>,      check<vellum::MRAdUpdate>,       check<vellum::MRAdControl>,
    check<vellum::MRAdDownload>,       check<vellum::MRStringData>,     check<vellum::MRNumberData>,
    check<vellum::MRAdEventURL>,       check<vellum::MRAdEventBreadcrumb>,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    kStructs[data[0] % std::size(kStructs)](std::span<const std::uint8_t>(data + 1, size - 1));
    return 0;
}
