#pragma once
// The four request-signal hooks. They are called on the main thread and never block; each
// answers NO and records nothing, which leaves every other behaviour of the client as it is.
#include <string>

namespace lumen {

// At each ad URL: YES with "key=value" written into `out` adds that pair to the ad URL.
bool lmn_gmrs(std::string& out);
// Once per ad URL before its fetch; the result is not used.
int lmn_gig(int requestType, const std::string& sdkVersion);
// For each click ping carrying "ai": YES appends `out` to the ping's URL as a bare item.
bool lmn_gmcs(const std::string& ai, std::string& out);
// For each "touch" message, -1 for a missing value.
void lmn_htg(int tx, int ty, int td);

} // namespace lumen
