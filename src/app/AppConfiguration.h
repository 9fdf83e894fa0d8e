#pragma once
// Fixed values of this edition of the drive application: who it is in the store, who
// publishes it, and the house promotions it asks for. Kept in one place so another edition
// changes them here only.
#include <string_view>

namespace app {

// The name the invitation e-mail and the store know the application by.
inline constexpr std::string_view kApplicationName = "Ferro Wick";
// Store identifiers of this free edition and of the paid edition the upgrade button sells.
inline constexpr std::string_view kFreeEditionStoreIdentifier = "904217356";
inline constexpr std::string_view kPaidEditionStoreIdentifier = "904217512";
// The publisher's address, sent a blind copy of every invitation e-mail.
inline constexpr std::string_view kPublisherBlindCopyAddress = "invitations@ferrowick.example";

// The launch pop-up's fixed arguments.
inline constexpr int kPopUpApplicationNumber = 270;
inline constexpr std::string_view kPopUpPublisherCode = "QZ";
inline constexpr std::string_view kLaunchImageName = "Default.png";
inline constexpr bool kPopUpOrientationIsLandscape = false;

} // namespace app
