#include "promo/StorePage.h"

#include "platform/foundation/Services.h"
#include "platform/foundation/URL.h"
#include "platform/ui/Application.h"

namespace promo {

std::string storePageURL(std::string_view storeIdentifier) {
    return platform::servicesBaseURL() + std::string(kStorePagePath) +
           "?id=" + platform::percentEncode(storeIdentifier) + "&mt=8";
}

bool openStorePage(std::string_view storeIdentifier) {
    return platform::Application::shared().openURL(storePageURL(storeIdentifier));
}

} // namespace promo
