#pragma once
// What becomes the parameters of a Lumen ad request: LMNRequest (the publisher's request;
// LMNRequestPrivate is the same class), LMNLocation with its encrypted request value,
// LMNRequestError, the device facts of LMNIdentifierUtilities, and the small formatting
// helpers LMNMacros (JSON text) and LMNNumberUtilities. Plain values, main thread only.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace lumen {

inline constexpr const char* kLMNErrorDomain = "com.ferrowick.lumen.request";

class LMNLocation {
public:
    static constexpr float kFloatEpsilon = 1.1920929e-7f;
    // Nullopt unless the values are a precise location.
    static std::optional<LMNLocation> initWithLatitude(float latitude, float longitude, float accuracy);
    // Nullopt for an empty description.
    static std::optional<LMNLocation> initWithDescription(std::string description);
    float latitude() const { return latitude_; }
    float longitude() const { return longitude_; }
    float accuracy() const { return accuracy_; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double t) { timestamp_ = t; }
    bool isPreciseLocation() const;
    std::string description() const;
    bool isEqual(const LMNLocation& other) const;
    // "e1+" and web-safe Base64 of the IV and the AES-128-CBC cipher text; nullopt on failure.
    std::optional<std::string> oolongRepresentation() const;
    // The clear text before padding and encryption.
    std::string clearText() const;

private:
    LMNLocation() = default;
    float latitude_ = 0, longitude_ = 0, accuracy_ = 0;
    std::string description_;
    double timestamp_ = 0;
};

class LMNRequest {
public:
    enum Gender { kGenderUnknown = 0, kGenderMale = 1, kGenderFemale = 2 };
    static std::shared_ptr<LMNRequest> request() { return std::make_shared<LMNRequest>(); }
    // initWithRequest: the objects (keywords) are shared, not copied; the counter starts at 0.
    std::shared_ptr<LMNRequest> copy() const;
    static const std::string& sdkVersion();

    bool isTesting() const { return testing_; }
    void setTesting(bool t) { testing_ = t; }
    const std::optional<platform::Dictionary>& additionalParameters() const { return additionalParameters_; }
    void setAdditionalParameters(std::optional<platform::Dictionary> p) {
        additionalParameters_ = std::move(p);
    }
    int gender() const { return gender_; }
    void setGender(int g) { gender_ = g; }
    const std::optional<platform::Date>& birthday() const { return birthday_; }
    void setBirthday(std::optional<platform::Date> d) { birthday_ = d; }
    void setBirthdayWithMonth(int month, int day, int year);
    const std::shared_ptr<std::vector<std::string>>& keywords() const { return keywords_; }
    void setKeywords(std::shared_ptr<std::vector<std::string>> k) { keywords_ = std::move(k); }
    void addKeyword(const std::string& keyword);
    void setLocationWithLatitude(float latitude, float longitude, float accuracy);
    void setLocationWithDescription(const std::string& description);
    const std::optional<LMNLocation>& location() const { return location_; }
    bool isInterstitialAd() const { return interstitialAd_; }
    void setInterstitialAd(bool i) { interstitialAd_ = i; }
    int counter() const { return counter_; }
    void setCounter(int c) { counter_ = c; }

    std::optional<std::string> genderString() const;
    std::optional<std::string> birthdayString() const;
    // The request's parameters with the statistics' figures since the previous request, which
    // this reports (counters and flags reset). An error that describes the request uses
    // kPeekStatistics: it carries the same figures and leaves them for the next request.
    enum StatisticsUse { kReportStatistics, kPeekStatistics };
    platform::Dictionary parameters(StatisticsUse use = kReportStatistics) const;
    platform::Dictionary spamSignals() const;
    static int requestTypeFromString(const std::optional<std::string>& type);
    static bool deviceAtLeastMinimumOSMajorVersion(int major, int minor);
    std::string description() const;

private:
    bool testing_ = false;
    std::optional<platform::Dictionary> additionalParameters_;
    int gender_ = kGenderUnknown;
    std::optional<platform::Date> birthday_;
    std::optional<LMNLocation> location_;
    std::shared_ptr<std::vector<std::string>> keywords_;
    bool interstitialAd_ = false;
    int counter_ = 0;
};
using LMNRequestPrivate = LMNRequest;

class LMNRequestError {
public:
    enum Code { kInvalidRequest = 0, kNoAd = 1, kNetworkError = 2, kOSTooOld = 3, kTimeout = 4 };
    static platform::Error errorWithCode(int code, const LMNRequest* request);
    static std::string localizedStringForErrorCode(int code);
};

class LMNIdentifierUtilities {
public:
    static LMNIdentifierUtilities& sharedInstance();
    static void resetForTesting();
    platform::Dictionary parameters();
    const platform::Dictionary& iTunesMetadata();
    const std::string& deviceIdentifier();
    const std::string& deviceIdentifierBase64();
    std::string deviceModel() const;
    const std::string& deviceSubmodel();
    std::optional<std::string> locale() const;
    int audioRoute() const { return audioRoute_; }
    static void getOSMajor(int* major, int* minor, int* bugFix);
    static bool isOSAtLeastMajor(int major, int minor, int bug);
    static platform::Dictionary readITunesMetadataFileAt(const std::string& path);

private:
    LMNIdentifierUtilities();
    bool isPhoneIdiom_ = true;
    std::optional<platform::Dictionary> iTunesMetadata_;
    std::optional<std::string> deviceIdentifier_, deviceIdentifierBase64_, deviceSubmodel_;
    int audioRoute_ = 1;
};

class LMNMacros {
public:
    // Compact JSON text; nullopt for no object.
    static std::optional<std::string> jsonify(const std::optional<platform::Value>& object);
};

class LMNNumberUtilities {
public:
    static std::string stringWithFloat(float value);
};

// `text` made safe inside a script element or a single-quoted script string: backslash,
// quotes, "</" and the line terminators are escaped.
std::string escapeForScript(std::string_view text);

} // namespace lumen
