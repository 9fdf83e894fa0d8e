#include "meridian/MRCommon.h"

#include <sys/utsname.h>

#include "platform/foundation/Log.h"
#include "platform/foundation/Services.h"
#include "platform/ui/Device.h"

namespace meridian {

void mrLog(std::string_view text) {
    platform::logLine(std::string(kMRLogPrefix) + std::string(text));
}

const MRDeviceFacts& mrDeviceFacts() {
    static const MRDeviceFacts facts = [] {
        MRDeviceFacts f;
        auto& device = platform::Device::current();
        f.uniqueIdentifier = device.uniqueIdentifier();
        f.model = device.model();
        f.systemVersion = device.systemVersion();
        utsname names{};
        f.machine = uname(&names) == 0 ? std::string(names.machine) : std::string();
        f.userAgent = f.model + " " + f.systemVersion;
        return f;
    }();
    return facts;
}

std::string mrAdServerBaseURL() {
    return platform::servicesBaseURL() + std::string(kMRAdServerPath);
}

} // namespace meridian
