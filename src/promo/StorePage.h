#pragma once
// Store pages: the platform store's application page of a store identifier, opened through
// the application object. The store is one of the remote services, so its address is built
// on the configured services base.
#include <string>
#include <string_view>

namespace promo {

inline constexpr std::string_view kStorePagePath = "/WebObjects/MZStore.woa/wa/viewSoftware";

// The page's URL: the store path with the query "id=<identifier>&mt=8" (the identifier
// percent-encoded).
std::string storePageURL(std::string_view storeIdentifier);
// Opens that page; answers whether the application could open it.
bool openStorePage(std::string_view storeIdentifier);

} // namespace promo
