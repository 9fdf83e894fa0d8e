// The Lumen client's small pure pieces: the string encodings (RFC 4648 vectors, Crockford
// synonyms, refusals), number text, query helpers, request types and the encrypted location.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include "LumenTestSupport.h"
#include "lumen/NetworkUtilities.h"
#include "lumen/Request.h"
#include "lumen/StringEncoding.h"
#include "platform/media/AudioSession.h"

using lumen::LMNNetworkUtilities;
using lumen::UTLStringEncoding;

namespace {

std::string decrypt(const platform::Data& iv, const platform::Data& cipher) {
    const unsigned char key[16] = {0x7c, 0x41, 0xe9, 0xa0, 0x5d, 0x3b, 0x82, 0xf6,
                                   0xe1, 0xa4, 0xc0, 0x7b, 0x9d, 0x2f, 0x63, 0x58};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv.data());
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::string out(cipher.size() + 16, '\0');
    int n = 0, tail = 0;
    EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n, cipher.data(),
                      static_cast<int>(cipher.size()));
    EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + n, &tail);
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

} // namespace

TEST(LumenStringEncoding, RFC4648VectorsEncodeAndDecode) {
    struct Row {
        const char* form;
        UTLStringEncoding encoding;
        std::vector<const char*> vectors; // of "", f, fo, foo, foob, fooba, foobar
    };
    const char* inputs[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const Row rows[] = {
        {"base64",
         UTLStringEncoding::rfc4648Base64StringEncoding(),
         {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"}},
        {"base32",
         UTLStringEncoding::rfc4648Base32StringEncoding(),
         {"", "MY======", "MZXQ====", "MZXW6===", "MZXW6YQ=", "MZXW6YTB", "MZXW6YTBOI======"}},
        {"base32hex",
         UTLStringEncoding::rfc4648Base32HexStringEncoding(),
         {"", "CO======", "CPNG====", "CPNMU===", "CPNMUOG=", "CPNMUOJ1", "CPNMUOJ1E8======"}},
        {"hex",
         UTLStringEncoding::hexStringEncoding(),
         {"", "66", "666F", "666F6F", "666F6F62", "666F6F6261", "666F6F626172"}},
    };
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.vectors.size(); ++i) {
            EXPECT_EQ(row.encoding.encodeString(inputs[i]), row.vectors[i]) << row.form << " " << inputs[i];
            EXPECT_EQ(row.encoding.stringByDecoding(row.vectors[i]), inputs[i])
                << row.form << " " << row.vectors[i];
        }
}

TEST(LumenStringEncoding, WebSafeFormsPaddingAndSynonyms) {
    const platform::Data sixteen = {0xfb, 0xff, 0xbf, 0x00, 0x01, 0x02, 0x03, 0x04,
                                    0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0xfe};
    auto websafe = UTLStringEncoding::rfc4648Base64WebsafeStringEncoding();
    auto padded = websafe.encode(sixteen);
    EXPECT_EQ(padded.size(), 24u);
    EXPECT_TRUE(padded.ends_with("=="));
    EXPECT_EQ(padded.find_first_of("+/"), std::string::npos);
    EXPECT_EQ(padded.substr(0, 4), "-_-_") << "62 and 63 are '-' and '_'";
    websafe.setDoPad(false);
    EXPECT_EQ(websafe.encode(sixteen).size(), 22u);
    EXPECT_EQ(websafe.decode(websafe.encode(sixteen)), sixteen);

    auto crockford = UTLStringEncoding::crockfordBase32StringEncoding();
    EXPECT_EQ(crockford.decode("o1"), crockford.decode("01"));
    EXPECT_EQ(crockford.decode("Ol"), crockford.decode("01"));
    EXPECT_EQ(UTLStringEncoding::binaryStringEncoding().encodeString("A"), "01000001");
}

TEST(LumenStringEncoding, RefusesBadAlphabetsAndBadText) {
    const char* badAlphabets[] = {"abc", "aa", "a", "", "0123456789ABCDEF0"};
    for (const char* alphabet : badAlphabets)
        EXPECT_FALSE(UTLStringEncoding::stringEncodingWithString(alphabet)) << alphabet;
    auto base64 = UTLStringEncoding::rfc4648Base64StringEncoding();
    const char* badTexts[] = {"Zh==", "Zm9v!", "Zg==Zg", "Zé=="};
    for (const char* text : badTexts)
        EXPECT_FALSE(base64.decode(text)) << text;
    auto hex = UTLStringEncoding::hexStringEncoding();
    EXPECT_THROW(hex.ignoreCharacters("A"), platform::NamedException);
    hex.ignoreCharacters(" ");
    EXPECT_EQ(hex.stringByDecoding("66 6F"), "fo");
}

TEST(LumenStringEncoding, PaddingCharacterIsReplacedAndNeverTakesADigit) {
    auto base32 = UTLStringEncoding::rfc4648Base32StringEncoding();
    base32.setPaddingChar('*');
    EXPECT_EQ(base32.encodeString("f"), "MY******");
    EXPECT_EQ(base32.stringByDecoding("MY******"), "f");
    EXPECT_FALSE(base32.decode("MY======")) << "the old padding character is no longer padding";

    // A digit of the alphabet cannot become the padding: it keeps decoding as its digit.
    EXPECT_THROW(base32.setPaddingChar('A'), platform::NamedException);
    EXPECT_EQ(base32.stringByDecoding("ME******"), "a");
    EXPECT_EQ(base32.stringByDecoding("MFRGG***"), "abc");
    EXPECT_EQ(base32.encodeString("f"), "MY******") << "a refused character leaves the padding as it was";
}

TEST(LumenFormatting, NumberTextRequestTypesAndErrors) {
    const std::pair<float, const char*> floats[] = {
        {2.0f, "2"}, {0.5f, "0.5"}, {320.0f, "320"}, {1.5f, "1.5"}, {0.0f, "0"}};
    for (auto [value, text] : floats)
        EXPECT_EQ(lumen::LMNNumberUtilities::stringWithFloat(value), text);
    const std::pair<std::optional<std::string>, int> types[] = {
        {"lumen", 4}, {"xfp", 5}, {"syndication", 1}, {"other", 0}, {std::nullopt, 0}, {"Lumen", 0}};
    for (const auto& [text, type] : types)
        EXPECT_EQ(lumen::LMNRequest::requestTypeFromString(text), type) << text.value_or("nil");
    const std::pair<int, const char*> messages[] = {
        {0, "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details."},
        {1, "Request Error: No ad to show."},
        {2, "Request Error: A network error occurred."},
        {4, "Request Error: The Lumen Ad request was unable to be fulfilled before a timeout occurred."},
        {9, "Request Error: Invalid ad request parameter(s).  Check the Xcode console for details."},
    };
    for (auto [code, text] : messages)
        EXPECT_EQ(lumen::LMNRequestError::localizedStringForErrorCode(code), text) << code;
    EXPECT_EQ(lumen::LMNRequest::sdkVersion(), "luma-sdk-i-v4.0.2");
}

TEST(LumenQueryHelpers, ParsingAndAppending) {
    auto dict = LMNNetworkUtilities::dictionaryFromQueryString(std::string("A=1;b=2&&c;d=x=y;e%20F=%41"));
    const std::map<std::string, std::string> expected = {{"a", "1"}, {"b", "2"}, {"e f", "A"}};
    EXPECT_EQ(dict, expected) << "c has no '=', d has two";
    EXPECT_TRUE(LMNNetworkUtilities::dictionaryFromQueryString(std::nullopt).empty());

    auto url = *platform::URL::parse("http://h/p?ai=x%20y&b=2");
    EXPECT_EQ(LMNNetworkUtilities::parameterValueForKey("ai", url), "x%20y") << "not decoded";
    EXPECT_FALSE(LMNNetworkUtilities::parameterValueForKey("AI", url));

    struct Row {
        const char* url;
        const char* key;
        std::optional<std::string> value;
        const char* expected;
    };
    const Row rows[] = {
        {"http://h/p", "k", std::nullopt, "http://h/p?k"},
        {"http://h/p", "k", std::string("a b&c=d"), "http://h/p?k=a%20b%26c%3Dd"},
        {"http://h/p?x=1", "k", std::string("v"), "http://h/p?x=1&k=v"},
        {"http://h/p?", "k", std::string("v"), "http://h/p?k=v"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LMNNetworkUtilities::appendQueryKey(row.key, row.value, *platform::URL::parse(row.url))
                      .absoluteString(),
                  row.expected);
}

TEST(LumenLocation, PreciseAndDescribedLocationsEncryptToTheirClearText) {
    fwtest::ManualClockScope clock;
    clock.clock().setNow(1700000000.25);
    EXPECT_FALSE(lumen::LMNLocation::initWithLatitude(0, 10, 5)) << "a latitude of exactly 0";
    EXPECT_FALSE(lumen::LMNLocation::initWithLatitude(91, 10, 5));
    EXPECT_FALSE(lumen::LMNLocation::initWithDescription(""));

    struct Row {
        std::optional<lumen::LMNLocation> location;
        std::string clear;
    };
    const Row rows[] = {
        {lumen::LMNLocation::initWithLatitude(52.5f, -13.25f, 20),
         "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: 1700000000250000 latlng "
         "<latitude_e7: 525000000 longitude_e7: -132500000> radius: 20000"},
        {lumen::LMNLocation::initWithDescription("Main \"Street\""),
         "role: 4 producer: 24 historical_role: 1 historical_producer: 12 timestamp: 1700000000250000 loc: "
         "\"Main 'Street'\""},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(row.location);
        auto value = row.location->oolongRepresentation();
        ASSERT_TRUE(value);
        ASSERT_TRUE(value->starts_with("e1+"));
        auto websafe = UTLStringEncoding::rfc4648Base64WebsafeStringEncoding();
        auto bytes = websafe.decode(value->substr(3));
        ASSERT_TRUE(bytes);
        ASSERT_GT(bytes->size(), 16u);
        platform::Data iv(bytes->begin(), bytes->begin() + 16), cipher(bytes->begin() + 16, bytes->end());
        // The first IV word is the whole seconds, little-endian.
        std::uint32_t first =
            iv[0] | (iv[1] << 8) | (iv[2] << 16) | (static_cast<std::uint32_t>(iv[3]) << 24);
        EXPECT_EQ(first, 1700000000u);
        auto plain = decrypt(iv, cipher);
        std::size_t pad = static_cast<unsigned char>(plain.back());
        ASSERT_GE(pad, 1u);
        ASSERT_LE(pad, 16u);
        EXPECT_EQ(plain.substr(0, plain.size() - pad), row.clear);
    }
    // A clear text that is already a whole number of blocks gets a whole block of padding.
    std::optional<lumen::LMNLocation> exact;
    for (std::size_t n = 1; n <= 16 && !(exact && exact->clearText().size() % 16 == 0); ++n)
        exact = lumen::LMNLocation::initWithDescription(std::string(n, 'x'));
    ASSERT_TRUE(exact);
    ASSERT_EQ(exact->clearText().size() % 16, 0u);
    auto bytes = UTLStringEncoding::rfc4648Base64WebsafeStringEncoding().decode(
        exact->oolongRepresentation()->substr(3));
    EXPECT_EQ(bytes->size() - 16, exact->clearText().size() + 16);
}

TEST(LumenRequest, CopiesShareKeywordsAndParametersOmitMissingFacts) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    lumentest::resetClient();
    auto request = lumen::LMNRequest::request();
    request->addKeyword("");
    EXPECT_FALSE(request->keywords()) << "an empty keyword is ignored";
    request->addKeyword("music");
    auto copy = request->copy();
    copy->addKeyword("films");
    EXPECT_EQ(request->keywords()->size(), 2u);
    request->setLocationWithLatitude(0, 12, 3);
    EXPECT_FALSE(request->location());
    request->setCounter(7);
    auto p = request->parameters();
    EXPECT_EQ(p.at("preqs").intOr(0), 7);
    EXPECT_EQ(p.at("js").stringOr(""), "luma-sdk-i-v4.0.2");
    EXPECT_EQ(p.at("isu").stringOr("").size(), 32u);
    for (const char* absent : {"ulcn", "cust_gender", "cust_age", "testing", "extras", "net"})
        EXPECT_EQ(p.count(absent), 0u) << absent;
    request->setGender(2);
    request->setBirthdayWithMonth(3, 5, 1990);
    request->setTesting(true);
    p = request->parameters();
    EXPECT_EQ(p.at("cust_gender").stringOr(""), "f");
    EXPECT_EQ(p.at("cust_age").stringOr(""), "19900305");
    EXPECT_EQ(p.at("testing").stringOr(""), "1");
    lumentest::resetClient();
}

namespace {

// Sets the process's time zone for one test and restores it afterwards.
class TimeZoneScope {
public:
    explicit TimeZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZoneScope() {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

// Local midnight of the given day, in the current time zone.
double localMidnight(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    return static_cast<double>(std::mktime(&tm));
}

} // namespace

TEST(LumenRequest, BirthdaysFollowTheLocalCalendar) {
    fwtest::TemporaryHome home;
    // East of UTC, west of it, and UTC itself (POSIX zone names: the sign is reversed).
    for (const char* zone : {"JST-9", "NST+3:30", "UTC0", "LHST-10:30"}) {
        TimeZoneScope scope(zone);
        auto request = lumen::LMNRequest::request();
        request->setBirthdayWithMonth(3, 15, 1990);
        ASSERT_TRUE(request->birthday()) << zone;
        EXPECT_EQ(request->birthday()->secondsSince1970, localMidnight(1990, 3, 15)) << zone;
        EXPECT_EQ(request->birthdayString(), "19900315") << zone;
        // A date the host made at local midnight is that day, not the one before in UTC.
        request->setBirthday(platform::Date{localMidnight(2001, 1, 1)});
        EXPECT_EQ(request->birthdayString(), "20010101") << zone;
        EXPECT_NE(request->description().find("\nbirthday:20010101"), std::string::npos) << zone;
    }
}

TEST(LumenRequest, TheAudioOutputFollowsTheRouteName) {
    fwtest::TemporaryHome home;
    fwtest::ManualClockScope clock;
    lumentest::resetClient();
    platform::AudioSession::resetForTesting();
    const std::pair<const char*, const char*> rows[] = {{"Speaker", "1"},   {"Headphone", "2"},
                                                        {"Headset", "2"},   {"", "3"},
                                                        {"HeadsetBT", "5"}, {"speaker", "5"}};
    for (const auto& [route, code] : rows) {
        platform::AudioSession::shared().setAudioRoute(route);
        auto p = lumen::LMNIdentifierUtilities::sharedInstance().parameters();
        EXPECT_EQ(p.at("u_audio").stringOr(""), code) << route;
    }
    platform::AudioSession::resetForTesting();
    lumentest::resetClient();
}

TEST(LumenStackTrace, DescriptorsBecomeOneLineEach) {
    lumen::UTLStackAddressDescriptor out[2];
    const void* unknown[] = {reinterpret_cast<const void*>(std::uintptr_t{0x10})};
    EXPECT_EQ(lumen::UTLGetStackAddressDescriptorsForAddresses(nullptr, out, 1), 0u);
    EXPECT_EQ(lumen::UTLGetStackAddressDescriptorsForAddresses(unknown, nullptr, 1), 0u);
    EXPECT_EQ(lumen::UTLGetStackAddressDescriptorsForAddresses(unknown, out, 0), 0u);
    ASSERT_EQ(lumen::UTLGetStackAddressDescriptorsForAddresses(unknown, out, 1), 1u);
    EXPECT_EQ(out[0].symbol, "???") << "no image holds this address";
    EXPECT_TRUE(out[0].imagePath.empty());
    EXPECT_FALSE(out[0].className);

    const void* at = reinterpret_cast<const void*>(std::uintptr_t{0x1234});
    const lumen::UTLStackAddressDescriptor rows[] = {
        {unknown[0], "???", std::nullopt, false, ""},
        {at, "load", "Widget", true, "/apps/Drive.app/Drive"},
        {at, "viewDidLoad", "Screen", false, "/usr/lib/libui.so"},
        {at, "main", std::nullopt, false, "/apps/Drive.app/Drive"},
    };
    EXPECT_EQ(lumen::UTLStackTraceFromAddressDescriptors(rows, 4),
              "#0  ??                                  0x00000010 ?\?\?()\n"
              "#1  Drive                               0x00001234 +[Widget load]\n"
              "#2  libui.so                            0x00001234 -[Screen viewDidLoad]\n"
              "#3  Drive                               0x00001234 main()");
    EXPECT_EQ(lumen::UTLStackTraceFromAddressDescriptors(nullptr, 3), "");
}

TEST(LumenStackTrace, OneNumberedLinePerFrame) {
    auto trace = lumen::UTLStackTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(trace.starts_with("#0 ")) << trace;
    EXPECT_NE(trace.find("\n#1 "), std::string::npos) << trace;
    EXPECT_EQ(trace.find("UTLStackTrace"), std::string::npos) << "the trace routine itself is left out";
}
