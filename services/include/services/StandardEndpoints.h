#pragma once
// Everything the embedded services answer when `ferrowick` starts them: the fixture files of
// the host's fixtures folder (each endpoint reads its own fixtures there too),
// plus the handlers of every service that needs more than a file (mediation configuration
// and pings, the push service's device-token registration, the tracking upload).
#include "services/ServiceHost.h"

namespace services {

// Path on which the push service takes device-token registrations.
inline constexpr std::string_view kPushRegistrationPath = "/pushNotification/commonPhp/getDevicedata.php";

void installStandardEndpoints(ServiceHost& host);

} // namespace services
