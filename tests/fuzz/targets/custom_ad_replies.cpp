// The custom-ad and Nimbus replies of the mediation layer: the first byte picks the adapter,
// the rest is the ad description it parses. A description either makes the ad (and no error)
// or fails; the image download a parsed ad starts is cancelled at the end of the input.
#include "FuzzSupport.h"

#include "mediation/SwitchboardAdNetworkConfig.h"
#include "mediation/SwitchboardAdNetworkRegistry.h"
#include "mediation/SwitchboardAdapterCustom.h"
#include "mediation/SwitchboardAdapterNimbus.h"
#include "mediation/SwitchboardConfig.h"
#include "platform/net/URLConnection.h"
#include "support/ManualClockScope.h"
#include "support/TemporaryHome.h"

namespace {

template <typename Adapter> void parse(int type, const platform::Data& reply) {
    auto config = mediation::SwitchboardConfig::create("fuzzAppKey", nullptr);
    FUZZ_CHECK(config->parseConfig(R"({"extra":{"location_on":0},"rations":[]})", nullptr));
    static mediation::SwitchboardAdNetworkRegistry registry;
    registry.registerClass(mediation::switchboardAdapterClass<Adapter>());
    platform::Dictionary ration{{"type", type}, {"nid", "fuzz-nid"}, {"nname", "net"}, {"weight", 1},
                                {"priority", 1}, {"key", "fuzz-key"}};
    auto entry = mediation::SwitchboardAdNetworkConfig::create(platform::Value(ration), &registry, nullptr);
    FUZZ_CHECK(entry != nullptr);
    auto adapter = mediation::SwitchboardAdNetworkAdapter::create<Adapter>({}, {}, config, entry);
    std::optional<platform::Error> error;
    if (adapter->parseAdData(reply, &error))
        FUZZ_CHECK(!error.has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    const platform::Data reply = fwfuzz::bytes(data + 1, size - 1);
    if (data[0] % 2 == 0)
        parse<mediation::SwitchboardAdapterCustom>(mediation::SwitchboardAdapterCustom::networkType(), reply);
    else
        parse<mediation::SwitchboardAdapterNimbus>(mediation::SwitchboardAdapterNimbus::networkType(), reply);
    platform::URLConnection::cancelAllForTesting();
    clock.drain();
    return 0;
}
