#pragma once
// The error of the mediation layer: one fixed domain, a numeric code (the table below) and a
// readable description. It reaches the host through the slot's failure callback and its
// `lastError`. A SwitchboardError is a platform::Error with no fields of its own, so it is
// passed and stored wherever a platform::Error is.
//
// Its user information holds the description under kLocalizedDescriptionKey and, when one
// was given, the underlying error under kUnderlyingErrorKey (written as a dictionary with
// the keys "domain", "code", "localizedDescription" and "userInfo"; underlyingError() reads
// it back).
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace mediation {

inline constexpr const char* kSwitchboardErrorDomain = "com.ferrowick.switchboard.ErrorDomain";

// Keys of an error's user information.
inline constexpr const char* kLocalizedDescriptionKey = "LocalizedDescription";
inline constexpr const char* kUnderlyingErrorKey = "UnderlyingError";

// The codes, by the component that raises them.
enum SwitchboardErrorCode : int {
    kSBErrorConfigConnection = 10,      // configuration host cannot be probed, or download failed
    kSBErrorConfigStatus = 11,          // configuration service answered outside 200-299
    kSBErrorConfigData = 20,            // configuration reply is not readable JSON
    kSBErrorConfigInvalid = 30,         // configuration has the wrong structure or a bad entry
    kSBErrorCustomAdConnection = 40,    // custom or Nimbus ad or image download failed
    kSBErrorCustomAdData = 50,          // custom or Nimbus reply is not readable JSON
    kSBErrorCustomAdInvalid = 60,       // custom or Nimbus reply lacks a field or is out of range
    kSBErrorCustomAdImage = 70,         // the ad image cannot be decoded
    kSBErrorIgnoreNewRequests = 80,     // fresh ad asked while new requests are switched off
    kSBErrorRequestInProgress = 90,     // fresh ad asked while one is being requested
    kSBErrorNoConfig = 100,             // fresh ad asked before any configuration
    kSBErrorRequestTooSoon = 110,       // fresh ad asked within the minimum gap
    kSBErrorNoMoreNetworks = 120,       // no network left in the cycle
    kSBErrorRollOverReachability = 130, // network unreachable for a rollover, or probe failed
    kSBErrorModalViewActive = 140,      // fresh ad asked while a modal screen is up
};

class SwitchboardError : public platform::Error {
public:
    // initWithCode:userInfo: the mediation domain, the code and the given user information;
    // a string under kLocalizedDescriptionKey becomes the description.
    SwitchboardError(int code, platform::Dictionary userInfo);
    // initWithCode:description: user information {description}.
    SwitchboardError(int code, std::string description);
    // initWithCode:description:underlyingError: user information {description, underlying
    // error}; without an underlying error only the description; without a description no
    // description entry (the underlying error is still kept).
    SwitchboardError(int code, std::optional<std::string> description,
                     const std::optional<platform::Error>& underlyingError);

    // errorWithCode:... class operations: the same as the constructors.
    static SwitchboardError errorWithCode(int code, platform::Dictionary userInfo);
    static SwitchboardError errorWithCode(int code, std::string description);
    static SwitchboardError errorWithCode(int code, std::optional<std::string> description,
                                          const std::optional<platform::Error>& underlyingError);

    // The underlying error of any platform::Error whose user information carries one.
    static std::optional<platform::Error> underlyingError(const platform::Error& error);
};

} // namespace mediation
