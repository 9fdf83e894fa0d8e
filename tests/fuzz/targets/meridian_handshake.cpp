// Meridian's handshake reply, as it is kept between runs: any JSON reply stored with the
// handshake's state is read back and its settings taken without harm; every ad type's
// configuration can be asked for.
#include "FuzzSupport.h"

#include "meridian/MRHandshake.h"
#include "platform/foundation/PropertyList.h"
#include "support/TemporaryHome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto reply = platform::Value::fromJSON(fwfuzz::text(data, size));
    if (!reply || !platform::isPropertyListValue(*reply))
        return 0;
    fwtest::TemporaryHome home;
    meridian::MRHandshake::resetForTesting();
    const auto path = meridian::MRHandshake::statePath();
    std::filesystem::create_directories(path.parent_path());
    platform::Dictionary state;
    state["handshakeResponse"] = *reply;
    if (!platform::writePropertyListFile(path, platform::Value(state)))
        return 0;

    auto& handshake = meridian::MRHandshake::sharedHandshake();
    handshake.loadState();
    handshake.parseResponseAndSetupNextHandshake(false);
    (void)handshake.isVideoAdRequestAllowed();
    (void)handshake.isDeferredTimeoutExpired();
    (void)handshake.adConfig();
    for (int type = 0; type <= 8; ++type) {
        (void)handshake.configurationForAdType(type);
        (void)meridian::MRHandshake::configurationFromDictionary(&*reply, type);
        (void)meridian::MRHandshake::adTypeName(type);
    }
    meridian::MRHandshake::resetForTesting();
    return 0;
}
