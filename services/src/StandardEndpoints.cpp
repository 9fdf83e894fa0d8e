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
    // Every endpoint reads its fixtures from the host's folder, so a person can serve their own.
    const std::string& fixtures = host.fixturesDir();
    installMediationEndpoints(host, fixtures);
    installOrbisEndpoints(host, fixtures);
    installLumenEndpoints(host, fixtures);
    installMeridianEndpoints(host, fixtures);
    installCustomAdEndpoints(host, fixtures);
    installTrackingEndpoints(host);
    installPromotionEndpoints(host, fixtures);
    installVellumAdEndpoints(host);
    installCobaltEndpoints(host);
    installTangentEndpoints(host, fixtures);
    // The push service only records registrations (the request log keeps them); the
    // application ignores the reply.
    host.handle("GET", std::string(kPushRegistrationPath), [](const LoggedRequest&) {
        return ServiceReply{200, "OK", "text/plain", {}};
    });
}

} // namespace services
