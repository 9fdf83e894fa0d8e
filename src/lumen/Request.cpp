#include "lumen/Request.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "lumen/NetworkUtilities.h"
#include "lumen/SignalHooks.h"
#include "lumen/Statistics.h"
#include "lumen/StringEncoding.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Crypto.h"
#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/AudioSession.h"
#include "platform/runloop/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Screen.h"

namespace lumen {

namespace {

// The audio output as the ad server counts it, from the name of the audio session's route.
struct AudioRouteRow {
    std::string_view name;
    int code;
};
constexpr int kAudioRouteUnknown = 1;
constexpr int kAudioRouteUnnamed = 3;
constexpr int kAudioRouteOther = 5;
constexpr AudioRouteRow kAudioRoutes[] = {{"Headphone", 2}, {"Headset", 2}, {"Speaker", 1}};

int currentAudioRoute() {
    auto& session = platform::AudioSession::shared();
    const auto status = session.initialize();
    if (status != platform::kAudioNoError && status != platform::kAudioSessionAlreadyInitialized)
        return kAudioRouteUnknown;
    std::string route;
    if (session.getProperty(platform::kAudioSessionPropertyAudioRoute, &route) != platform::kAudioNoError)
        return kAudioRouteUnknown;
    if (route.empty())
        return kAudioRouteUnnamed;
    for (const auto& row : kAudioRoutes)
        if (row.name == route)
            return row.code;
    return kAudioRouteOther;
}

constexpr int kSDKMajor = 4, kSDKMinor = 0, kSDKPatch = 2;
constexpr std::array<std::uint8_t, platform::kAES128KeyLength> kEncryptionKey = {
    0x7c, 0x41, 0xe9, 0xa0, 0x5d, 0x3b, 0x82, 0xf6, 0xe1, 0xa4, 0xc0, 0x7b, 0x9d, 0x2f, 0x63, 0x58};
constexpr double kMicroseconds = 1e6;
constexpr double kE7 = 1e7;
constexpr double kMillimetres = 1000.0;
constexpr const char* kOolongPrefix = "e1+";
constexpr const char* kErrorPrefix = "Request Error: ";
constexpr int kMinimumOSMajor = 3, kMinimumOSMinor = 0;
constexpr const char* kLocalizedDescriptionKey = "localizedDescription";
constexpr const char* kLocalizedFailureReasonKey = "localizedFailureReason";

struct RequestTypeRow {
    std::string_view name;
    int type;
};
constexpr RequestTypeRow kRequestTypes[] = {{"lumen", 4}, {"xfp", 5}, {"syndication", 1}};

struct ErrorMessageRow {
    int code;
    const char* message;
};
constexpr ErrorMessageRow kErrorMessages[] = {
    {LMNRequestError::kInvalidRequest,
     "Invalid ad request parameter(s).  Check the Xcode console for details."},
    {LMNRequestError::kNoAd, "No ad to show."},
    {LMNRequestError::kNetworkError, "A network error occurred."},
    {LMNRequestError::kOSTooOld, "This device's OS is %i.%i.%i.  It is below the minimum of %i.%i."},
    {LMNRequestError::kTimeout, "The Lumen Ad request was unable to be fulfilled before a timeout occurred."},
};

std::int32_t clampToInt32(double value) {
    return platform::saturatingCast<std::int32_t>(value);
}

LMNIdentifierUtilities*& sharedIdentifiers() {
    static LMNIdentifierUtilities* shared = nullptr;
    return shared;
}

std::string websafeBase64(const platform::Data& data) {
    auto encoding = UTLStringEncoding::rfc4648Base64WebsafeStringEncoding();
    encoding.setDoPad(false);
    return encoding.encode(data);
}

} // namespace

std::string escapeForScript(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' || c == '\'' || c == '"')
            out += '\\', out += c;
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '<' && i + 1 < text.size() && text[i + 1] == '/')
            out += "<\\";
        else if (text.substr(i, 3) == "\xE2\x80\xA8")
            out += "\\u2028", i += 2;
        else if (text.substr(i, 3) == "\xE2\x80\xA9")
            out += "\\u2029", i += 2;
        else
            out += c;
    }
    return out;
}

// ---- LMNLocation ----

std::optional<LMNLocation> LMNLocation::initWithLatitude(float latitude, float longitude, float accuracy) {
    LMNLocation l;
    l.latitude_ = latitude;
    l.longitude_ = longitude;
    l.accuracy_ = accuracy;
    l.timestamp_ = platform::Clock::current().now();
    if (!l.isPreciseLocation())
        return std::nullopt;
    return l;
}

std::optional<LMNLocation> LMNLocation::initWithDescription(std::string description) {
    if (description.empty())
        return std::nullopt;
    LMNLocation l;
    l.description_ = std::move(description);
    l.timestamp_ = platform::Clock::current().now();
    return l;
}

bool LMNLocation::isPreciseLocation() const {
    return std::fabs(latitude_) <= 90 && std::fabs(longitude_) <= 180 &&
           std::fabs(latitude_) > kFloatEpsilon && std::fabs(longitude_) > kFloatEpsilon;
}

std::string LMNLocation::description() const {
    if (!description_.empty())
        return description_;
    if (!isPreciseLocation())
        return {};
    char out[64];
    std::snprintf(out, sizeof out, "%f,%f", static_cast<double>(latitude_), static_cast<double>(longitude_));
    return out;
}

bool LMNLocation::isEqual(const LMNLocation& other) const {
    if (isPreciseLocation() != other.isPreciseLocation())
        return false;
    if (isPreciseLocation())
        return std::fabs(latitude_ - other.latitude_) < kFloatEpsilon &&
               std::fabs(longitude_ - other.longitude_) < kFloatEpsilon &&
               std::fabs(accuracy_ - other.accuracy_) < kFloatEpsilon;
    return description_ == other.description_;
}

std::string LMNLocation::clearText() const {
    char buffer[512];
    const double t = std::trunc(timestamp_ * kMicroseconds);
    if (isPreciseLocation()) {
        std::snprintf(
            buffer, sizeof buffer,
            "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: %.0f latlng "
            "<latitude_e7: %ld longitude_e7: %ld> radius: %ld",
            t, static_cast<long>(clampToInt32(latitude_ * kE7)),
            static_cast<long>(clampToInt32(longitude_ * kE7)),
            static_cast<long>(clampToInt32(accuracy_ * kMillimetres)));
        return buffer;
    }
    std::string quoted = description_;
    std::replace(quoted.begin(), quoted.end(), '"', '\'');
    std::snprintf(buffer, sizeof buffer,
                  "role: 4 producer: 24 historical_role: 1 historical_producer: 12 timestamp: %.0f loc: \"",
                  t);
    return buffer + quoted + "\"";
}

std::optional<std::string> LMNLocation::oolongRepresentation() const {
    std::string text = clearText();
    platform::Data plain(text.begin(), text.end());
    const std::size_t pad = platform::kAESBlockLength - plain.size() % platform::kAESBlockLength;
    plain.insert(plain.end(), pad, static_cast<std::uint8_t>(pad));
    std::array<std::uint8_t, platform::kAESBlockLength> iv{};
    for (int i = 0; i < 4; ++i) {
        auto v = static_cast<std::uint32_t>(clampToInt32(timestamp_ * (i + 1)));
        for (int b = 0; b < 4; ++b)
            iv[static_cast<std::size_t>(i * 4 + b)] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    auto cipher = platform::aes128CBCEncryptNoPadding(plain, kEncryptionKey, iv);
    if (!cipher)
        return std::nullopt;
    platform::Data all(iv.begin(), iv.end());
    all.insert(all.end(), cipher->begin(), cipher->end());
    return kOolongPrefix + websafeBase64(all);
}

// ---- LMNRequest ----

std::shared_ptr<LMNRequest> LMNRequest::copy() const {
    auto out = std::make_shared<LMNRequest>(*this);
    out->counter_ = 0;
    return out;
}

const std::string& LMNRequest::sdkVersion() {
    static const std::string version = [] {
        char text[64];
        std::snprintf(text, sizeof text, "luma-sdk-i-v%d.%d.%d", kSDKMajor, kSDKMinor, kSDKPatch);
        return std::string(text);
    }();
    return version;
}

void LMNRequest::setBirthdayWithMonth(int month, int day, int year) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    // The host's birth date is a day of the local calendar: its local midnight.
    birthday_ = platform::Date{static_cast<double>(std::mktime(&tm))};
}

void LMNRequest::addKeyword(const std::string& keyword) {
    if (keyword.empty())
        return;
    if (!keywords_)
        keywords_ = std::make_shared<std::vector<std::string>>();
    keywords_->push_back(keyword);
}

void LMNRequest::setLocationWithLatitude(float latitude, float longitude, float accuracy) {
    location_ = LMNLocation::initWithLatitude(latitude, longitude, accuracy);
}

void LMNRequest::setLocationWithDescription(const std::string& description) {
    location_ = LMNLocation::initWithDescription(description);
}

std::optional<std::string> LMNRequest::genderString() const {
    if (gender_ == kGenderMale)
        return "m";
    if (gender_ == kGenderFemale)
        return "f";
    return std::nullopt;
}

std::optional<std::string> LMNRequest::birthdayString() const {
    if (!birthday_)
        return std::nullopt;
    std::time_t t = platform::saturatingCast<std::time_t>(birthday_->secondsSince1970);
    std::tm tm{};
    localtime_r(&t, &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return out;
}

platform::Dictionary LMNRequest::parameters(StatisticsUse use) const {
    platform::Dictionary out = LMNIdentifierUtilities::sharedInstance().parameters();
    out["js"] = sdkVersion();
    if (auto net = LMNNetworkChecker::sharedChecker().networkTypeString())
        out["net"] = *net;
    if (testing_)
        out["testing"] = "1";
    if (additionalParameters_)
        out["extras"] = *additionalParameters_;
    if (auto g = genderString())
        out["cust_gender"] = *g;
    if (auto b = birthdayString())
        out["cust_age"] = *b;
    if (keywords_) {
        platform::Array words(keywords_->begin(), keywords_->end());
        out["kw"] = words;
    }
    if (location_)
        if (auto value = location_->oolongRepresentation())
            out["ulcn"] = *value;
    auto& statistics = LMNStatistics::sharedStatistics();
    for (auto& [key, value] :
         use == kReportStatistics ? statistics.parameters() : statistics.currentParameters())
        out[key] = value;
    out["preqs"] = counter_;
    return out;
}

platform::Dictionary LMNRequest::spamSignals() const {
    std::string text;
    if (!lmn_gmrs(text))
        return {};
    auto eq = text.find('=');
    if (eq == std::string::npos || eq + 1 >= text.size())
        return {};
    auto rest = text.substr(eq + 1);
    return {{text.substr(0, eq), rest.substr(0, rest.find('='))}};
}

int LMNRequest::requestTypeFromString(const std::optional<std::string>& type) {
    if (type)
        for (const auto& row : kRequestTypes)
            if (row.name == *type)
                return row.type;
    return 0;
}

bool LMNRequest::deviceAtLeastMinimumOSMajorVersion(int major, int minor) {
    int m = 0, n = 0;
    LMNIdentifierUtilities::getOSMajor(&m, &n, nullptr);
    return m != major ? m > major : n >= minor;
}

std::string LMNRequest::description() const {
    char head[64];
    std::snprintf(head, sizeof head, "LMNRequest<%p>: ", static_cast<const void*>(this));
    std::string out = head;
    if (gender_ == kGenderMale)
        out += "\ngender:Male";
    else if (gender_ == kGenderFemale)
        out += "\ngender:Female";
    if (auto b = birthdayString())
        out += "\nbirthday:" + *b;
    if (location_)
        out += "\nlocation:" + location_->description();
    if (keywords_)
        out +=
            "\nkeywords:" + platform::Value(platform::Array(keywords_->begin(), keywords_->end())).toJSON();
    if (additionalParameters_)
        out += "\nadditionalParameters:" + platform::Value(*additionalParameters_).toJSON();
    return out;
}

// ---- LMNRequestError ----

std::string LMNRequestError::localizedStringForErrorCode(int code) {
    const char* message = kErrorMessages[0].message;
    for (const auto& row : kErrorMessages)
        if (row.code == code)
            message = row.message;
    if (code == kOSTooOld) {
        int major = 0, minor = 0, bug = 0;
        LMNIdentifierUtilities::getOSMajor(&major, &minor, &bug);
        char text[160];
        std::snprintf(text, sizeof text, message, major, minor, bug, kMinimumOSMajor, kMinimumOSMinor);
        return kErrorPrefix + std::string(text);
    }
    return kErrorPrefix + std::string(message);
}

platform::Error LMNRequestError::errorWithCode(int code, const LMNRequest* request) {
    platform::Error error{kLMNErrorDomain, code, localizedStringForErrorCode(code), {}};
    if ((code < kNoAd || code > kTimeout) && request)
        error.userInfo = request->parameters(LMNRequest::kPeekStatistics);
    error.userInfo[kLocalizedDescriptionKey] = error.localizedDescription;
    error.userInfo[kLocalizedFailureReasonKey] = error.localizedDescription;
    return error;
}

// ---- LMNIdentifierUtilities ----

LMNIdentifierUtilities& LMNIdentifierUtilities::sharedInstance() {
    auto& slot = sharedIdentifiers();
    if (!slot)
        slot = new LMNIdentifierUtilities();
    return *slot;
}

void LMNIdentifierUtilities::resetForTesting() {
    delete sharedIdentifiers();
    sharedIdentifiers() = nullptr;
}

LMNIdentifierUtilities::LMNIdentifierUtilities()
    : isPhoneIdiom_(platform::Device::current().userInterfaceIdiom() == platform::UserInterfaceIdiom::Phone) {
}

const platform::Dictionary& LMNIdentifierUtilities::iTunesMetadata() {
    if (!iTunesMetadata_) {
        auto path = (platform::DeviceHome::documents() / ".." / "iTunesMetadata.plist").lexically_normal();
        iTunesMetadata_ = readITunesMetadataFileAt(path.string());
    }
    return *iTunesMetadata_;
}

platform::Dictionary LMNIdentifierUtilities::readITunesMetadataFileAt(const std::string& path) {
    auto text = platform::FileManager::stringWithContentsOfFile(path);
    if (!text)
        return {};
    auto value = platform::Value::fromPropertyList(*text);
    if (!value || !value->dictionary())
        return {};
    return *value->dictionary();
}

const std::string& LMNIdentifierUtilities::deviceIdentifier() {
    if (!deviceIdentifier_) {
        auto digest = platform::md5Digest(platform::Device::current().uniqueIdentifier());
        std::string hex;
        char byte[3];
        for (auto b : digest) {
            std::snprintf(byte, sizeof byte, "%02X", b);
            hex += byte;
        }
        deviceIdentifier_ = hex;
    }
    return *deviceIdentifier_;
}

const std::string& LMNIdentifierUtilities::deviceIdentifierBase64() {
    if (!deviceIdentifierBase64_) {
        auto digest = platform::md5Digest(platform::Device::current().uniqueIdentifier());
        deviceIdentifierBase64_ = websafeBase64(platform::Data(digest.begin(), digest.end()));
    }
    return *deviceIdentifierBase64_;
}

std::string LMNIdentifierUtilities::deviceModel() const {
    return platform::Device::current().model();
}

const std::string& LMNIdentifierUtilities::deviceSubmodel() {
    if (!deviceSubmodel_) {
        utsname name{};
        deviceSubmodel_ = uname(&name) == 0 ? std::string(name.machine) : std::string();
    }
    return *deviceSubmodel_;
}

std::optional<std::string> LMNIdentifierUtilities::locale() const {
    auto languages = platform::UserDefaults::standard().stringArrayForKey("AppleLanguages");
    if (!languages || languages->empty())
        return std::nullopt;
    std::string first = languages->front();
    std::transform(first.begin(), first.end(), first.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return first;
}

platform::Dictionary LMNIdentifierUtilities::parameters() {
    platform::Dictionary out;
    if (deviceModel() == "iPad" && isPhoneIdiom_)
        out["ios_ipadc"] = "1";
    out["ios_metadata"] = iTunesMetadata();
    std::string appName;
    const auto& info = platform::Bundle::main().infoDictionary();
    if (auto it = info.find("CFBundleVersion"); it != info.end() && it->second.string())
        appName = *it->second.string() + ".";
    std::string identifier;
    if (auto it = info.find("CFBundleIdentifier"); it != info.end() && it->second.string())
        identifier = *it->second.string();
    out["app_name"] = appName + "iphone." + identifier;
    out["isu"] = deviceIdentifier();
    out["platform"] = deviceModel();
    out["submodel"] = deviceSubmodel();
    if (auto hl = locale())
        out["hl"] = *hl;
    audioRoute_ = currentAudioRoute();
    out["u_audio"] = std::to_string(audioRoute_);
    auto orientation = platform::Application::shared().statusBarOrientation();
    const bool landscape = orientation == platform::InterfaceOrientation::LandscapeLeft ||
                           orientation == platform::InterfaceOrientation::LandscapeRight;
    out["u_so"] = landscape ? "l" : "p";
    auto& screen = platform::Screen::main();
    out["u_sd"] = LMNNumberUtilities::stringWithFloat(static_cast<float>(screen.scale()));
    auto frame = screen.applicationFrame();
    double height = frame.size.height;
    if (!platform::Application::shared().isStatusBarHidden())
        height += platform::Application::shared().statusBarFrame().size.height;
    out["u_w"] = LMNNumberUtilities::stringWithFloat(static_cast<float>(frame.size.width));
    out["u_h"] = LMNNumberUtilities::stringWithFloat(static_cast<float>(height));
    return out;
}

void LMNIdentifierUtilities::getOSMajor(int* major, int* minor, int* bugFix) {
    int parts[3] = {0, 0, 0};
    std::string version = platform::Device::current().systemVersion();
    std::size_t at = 0;
    for (int i = 0; i < 3 && at <= version.size(); ++i) {
        auto end = version.find('.', at);
        parts[i] =
            std::atoi(version.substr(at, end == std::string::npos ? std::string::npos : end - at).c_str());
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    if (major)
        *major = parts[0];
    if (minor)
        *minor = parts[1];
    if (bugFix)
        *bugFix = parts[2];
}

bool LMNIdentifierUtilities::isOSAtLeastMajor(int major, int minor, int bug) {
    int m = 0, n = 0, b = 0;
    getOSMajor(&m, &n, &b);
    if (m != major)
        return m > major;
    if (n != minor)
        return n > minor;
    return b >= bug;
}

// ---- helpers ----

std::optional<std::string> LMNMacros::jsonify(const std::optional<platform::Value>& object) {
    if (!object)
        return std::nullopt;
    try {
        return object->toJSON();
    } catch (const std::exception&) {
        return std::string();
    }
}

std::string LMNNumberUtilities::stringWithFloat(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        while (!out.empty() && out.back() == '0')
            out.pop_back();
        if (!out.empty() && out.back() == '.')
            out.pop_back();
    }
    return out;
}

} // namespace lumen
