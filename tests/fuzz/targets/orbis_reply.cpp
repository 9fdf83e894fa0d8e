// The Orbis ad service's XML reply: any bytes give a valid ad or nothing, and nothing outside
// the reply is read.
#include "FuzzSupport.h"

#include "orbis/AdUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto unit = orbis::XMLParser::buildAdUnitFromResponseData(fwfuzz::bytes(data, size));
    if (unit)
        FUZZ_CHECK(unit->isValid());
    return 0;
}
