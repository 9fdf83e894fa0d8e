// The mediation configuration reply: any text parses into a configuration or fails with an
// error, never both; a second parse of the same configuration is refused.
#include "FuzzSupport.h"

#include <cmath>

#include "mediation/SwitchboardConfig.h"
#include "mediation/SwitchboardError.h"
#include "support/TemporaryHome.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fwtest::TemporaryHome home;
    auto config = mediation::SwitchboardConfig::create("fuzzAppKey", nullptr);
    mediation::SwitchboardError error(0, std::string());
    const bool parsed = config->parseConfig(fwfuzz::text(data, size), &error);
    FUZZ_CHECK(parsed == config->hasConfig());
    if (!parsed) {
        FUZZ_CHECK(error.code == mediation::kSBErrorConfigInvalid || error.code == mediation::kSBErrorConfigData);
        return 0;
    }
    FUZZ_CHECK(std::isfinite(config->refreshInterval()));
    (void)config->description();
    mediation::SwitchboardError second(0, std::string());
    FUZZ_CHECK(!config->parseConfig(fwfuzz::text(data, size), &second));
    FUZZ_CHECK(second.code == mediation::kSBErrorConfigInvalid);
    return 0;
}
