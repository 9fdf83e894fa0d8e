// Meridian's handshake reply, through the handshake's own entry point: the input is the reply's
// text as the connection hands it over. The state is then saved (as the next video date saves
// it) and a fresh start reads it back. Whatever the reply holds (nulls, errors, odd types,
// huge numbers), the state is written and the restarted handshake has the same settings as the
// one that took the reply; an errored reply is neither applied nor kept, so no restart finds one.
#include <array>
#include <cmath>
#include <cstring>

#include "FuzzSupport.h"

#include "meridian/MRHandshake.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PropertyList.h"
#include "platform/runloop/Clock.h"
#include "support/TemporaryHome.h"

namespace {

// A start well before the next handshake: the handshake starts no connection of its own.
constexpr double kNextHandshakeAfter = 1e6;
constexpr int kLastAdType = 6; // one past the named types: falls back to the top banner's
// The reply in force before each input: the kill switch on, the top banner's refresh set.
constexpr std::string_view kReplyInForce =
    R"({"mrishake":{"kill":true,"deferredviewtimeout":60,"adtypes":{"MRBannerAdTop":{"adrefresh":45}}}})";

// Floats compared as their bits, so that -0 and 0, or two NaNs, are told apart or matched exactly.
bool same(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Settings {
    bool adCallAllowed = true;
    float deferredviewtimeout = 0;
    float handshakeCallbackDuration = 0;
    std::array<meridian::MRAdTypeConfiguration, kLastAdType + 1> types{};

    static Settings of(meridian::MRHandshake& handshake) {
        Settings s;
        s.adCallAllowed = handshake.isAdCallAllowed();
        s.deferredviewtimeout = handshake.deferredviewtimeout();
        s.handshakeCallbackDuration = handshake.handshakeCallbackDuration();
        const int kept = handshake.adType();
        for (int type = 0; type <= kLastAdType; ++type) {
            handshake.setAdType(type);
            s.types[static_cast<std::size_t>(type)] = handshake.adConfig();
        }
        handshake.setAdType(kept);
        return s;
    }

    friend bool operator==(const Settings& a, const Settings& b) {
        if (a.adCallAllowed != b.adCallAllowed || !same(a.deferredviewtimeout, b.deferredviewtimeout) ||
            !same(a.handshakeCallbackDuration, b.handshakeCallbackDuration))
            return false;
        for (std::size_t i = 0; i < a.types.size(); ++i)
            if (a.types[i].adType != b.types[i].adType ||
                !same(a.types[i].refreshPeriod, b.types[i].refreshPeriod) ||
                !same(a.types[i].videoInterval, b.types[i].videoInterval))
                return false;
        return true;
    }
};

// The number of entries of the reply's "errors" array (0 when it has none).
std::size_t errorCount(const platform::Value& response) {
    const auto* root = response.find("mrishake");
    const auto* errors = root ? root->find("errors") : nullptr;
    return errors && errors->isArray() ? errors->size() : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fwfuzz::text(data, size);
    // One home for the run; each input starts from a state file of its own.
    static fwtest::TemporaryHome home;
    meridian::MRHandshake::resetForTesting();
    const auto path = meridian::MRHandshake::statePath();
    std::filesystem::create_directories(path.parent_path());
    // Whole seconds: the state file keeps dates to the second.
    const double now = std::floor(platform::Clock::current().now());
    platform::Dictionary start;
    start["nextHandshakeToOccurAt"] = platform::Date{now + kNextHandshakeAfter};
    const auto inForce = platform::Value::fromJSON(kReplyInForce);
    FUZZ_CHECK(inForce);
    start["handshakeResponse"] = *inForce;
    FUZZ_CHECK(platform::writePropertyListFile(path, platform::Value(start)));

    auto& handshake = meridian::MRHandshake::sharedHandshake();
    const Settings before = Settings::of(handshake);
    FUZZ_CHECK(!before.adCallAllowed); // the reply in force was applied at the start
    handshake.handshakeReplyReceived(text);
    const auto parsed = platform::Value::fromJSON(text);
    const auto* root = parsed ? parsed->find("mrishake") : nullptr;
    const bool hasRoot = root && root->isDictionary();
    // A reply without an "mrishake" object, or one with errors, changes nothing: the reply in
    // force stays. Any other replaces it.
    const bool taken = hasRoot && handshake.handshakeResponse() == *parsed;
    FUZZ_CHECK(taken || handshake.handshakeResponse() == *inForce);
    FUZZ_CHECK(!taken || errorCount(*parsed) == 0);
    const Settings taking = Settings::of(handshake);
    if (!taken)
        FUZZ_CHECK(taking == before);

    // The next video date saves the state with the reply in force, whatever the input held.
    handshake.setLastVideoPlayedAt(platform::Date{now});
    const auto state = platform::readPropertyListFile(path);
    FUZZ_CHECK(state && state->isDictionary() && state->find("lastVideoPlayedAt"));
    FUZZ_CHECK(state->find("handshakeResponse") != nullptr);

    meridian::MRHandshake::resetForTesting();
    auto& restarted = meridian::MRHandshake::sharedHandshake();
    FUZZ_CHECK(Settings::of(restarted) == taking);
    FUZZ_CHECK(taken || restarted.handshakeResponse() == *inForce);
    FUZZ_CHECK(errorCount(restarted.handshakeResponse()) == 0);
    FUZZ_CHECK(restarted.lastVideoPlayedAt() == platform::Date{now});
    meridian::MRHandshake::resetForTesting();
    return 0;
}
