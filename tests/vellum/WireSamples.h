#pragma once
// Realistic wire structs for the tests: an upload with runs of events and ad events, a
// partial upload, and the two server replies, with every kind of field filled.
#include <cstdint>
#include <span>
#include <vector>

#include "vellum/tracking/BroadcastData.h"
#include "vellum/tracking/ECActionResponse.h"
#include "vellum/tracking/MRClientRequest.h"
#include "vellum/tracking/MRSlotZeroResponse.h"

namespace vellumtest {

vellum::Event sampleEvent(int n);
vellum::VellumAdEvent sampleAdEvent(int n);
vellum::Run sampleRun(int n, int events, int adEvents);
vellum::BroadcastData sampleBroadcastData(int runs = 2, int eventsPerRun = 2, int adEventsPerRun = 1);
vellum::MRClientRequest sampleClientRequest();
vellum::ECActionResponse sampleActionResponse();
vellum::MRSlotZeroResponse sampleSlotZeroResponse();

using Bytes = std::vector<std::uint8_t>;

// Little builders of raw binary-protocol bytes, for data our writer would never produce.
struct RawWriter {
    Bytes bytes;
    RawWriter& byte(int b);
    RawWriter& i16(std::int16_t v);
    RawWriter& i32(std::int32_t v);
    RawWriter& field(int type, std::int16_t id) { return byte(type).i16(id); }
    RawWriter& string(std::string_view s);
    RawWriter& stop() { return byte(0); }
    RawWriter& append(std::span<const std::uint8_t> more);
};

} // namespace vellumtest
