#pragma once
// Where the remote services live. Every client builds its request URLs from this base, never
// from a constant: `ferrowick --services URL` sets it (default: the embedded loopback services),
// the environment variable FW_SERVICES_URL sets it for any program, and tests set it directly.
#include <string>

namespace platform {

// Base URL of the services, such as "http://127.0.0.1:8080", without a trailing slash;
// empty when none is configured.
std::string servicesBaseURL();
void setServicesBaseURL(std::string url);
// "host:port" of the base URL, for clients whose paths name the host themselves.
std::string servicesHost();

} // namespace platform
