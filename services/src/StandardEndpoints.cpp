#include "services/StandardEndpoints.h"

#include "services/CobaltEndpoints.h"
#include "services/CustomAdEndpoints.h"
#include "services/MediationEndpoints.h"
#include "services/LumenEndpoints.h"
#include "services/MeridianEndpoints.h"
#include "services/OrbisEndpoints.h"
#include "services/PromotionEndpoints.h"
#include "services/TangentEndpoints.h"
#include "services/TrackingEndpoints.h"
#include "services/VellumAdEndpoints.h"

namespace services {

void installStandardEndpoints(ServiceHost& host) {
    installMediationEndpoints(host);
    installOrbisEndpoints(host);
    installLumenEndpoints(host);
    installMeridianEndpoints(host);
    installCustomAdEndpoints(host);
    installTrackingEndpoints(host);
    installPromotionEndpoints(host);
    installVellumAdEndpoints(host);
    installCobaltEndpoints(host);
    installTangentEndpoints(host);
    // The push service only records registrations (the request log keeps them); the
    // application ignores the reply.
    host.handle("GET", std::string(kPushRegistrationPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
}

} // namespace services
