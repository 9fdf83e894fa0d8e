#include "lumen/SignalHooks.h"

namespace lumen {

bool lmn_gmrs(std::string&) {
    return false;
}
int lmn_gig(int, const std::string&) {
    return 0;
}
bool lmn_gmcs(const std::string&, std::string&) {
    return false;
}
void lmn_htg(int, int, int) {}

} // namespace lumen
