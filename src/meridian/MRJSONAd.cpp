#include "meridian/MRJSONAd.h"

#include <array>

namespace meridian {

namespace {

constexpr std::string_view kTypeKey = "type";
constexpr std::string_view kMetaDataKey = "meta-data";

// Reply types and the ad types they give; any other type gives MRJSONAd::kNoAd.
struct TypeRow {
    std::string_view name;
    std::string_view objectKey;
    int adType;
};
constexpr std::array<TypeRow, 2> kTypes = {{
    {"image", "image", MRJSONAd::kImageAd},
    {"video", "video", MRJSONAd::kVideoAd},
}};

const platform::Value* field(const platform::Value& object, std::string_view key) {
    const auto* v = object.find(key);
    return v && !v->isNull() ? v : nullptr;
}

std::string textOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->string() ? *v->string() : std::string();
}

std::optional<platform::URL> urlOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    if (!v || !v->string())
        return std::nullopt;
    return platform::URL::parse(*v->string());
}

bool flagOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->isNumber() && v->number().value_or(0) != 0;
}

double numberOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->isNumber() && !v->isBool() ? v->doubleOr(0) : 0;
}

std::optional<platform::Array> arrayOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    if (!v || !v->array())
        return std::nullopt;
    return *v->array();
}

} // namespace

MRJSONAd::MRJSONAd(const platform::Data& reply, std::weak_ptr<MRJSONAdView> adView)
    : adView_(std::move(adView)) {
    std::string_view text(reinterpret_cast<const char*>(reply.data()), reply.size());
    rawResponse_ = platform::Value::fromJSON(text);
    onCompletion_.reset();
    parseResponse(rawResponse_);
}

void MRJSONAd::parseResponse(const std::optional<platform::Value>& response) {
    const platform::Value* type = response && response->isDictionary() ? field(*response, kTypeKey) : nullptr;
    if (!type) {
        adType_ = kNoAd;
        return;
    }
    const auto* meta = field(*response, kMetaDataKey);
    logMetaData_ = meta && meta->dictionary() ? *meta->dictionary() : platform::Dictionary{};
    const TypeRow* row = nullptr;
    for (const auto& candidate : kTypes)
        if (type->string() && *type->string() == candidate.name)
            row = &candidate;
    if (!row) {
        adType_ = kNoAd;
        return;
    }
    adType_ = row->adType;
    const auto* object = field(*response, row->objectKey);
    if (!object || !object->isDictionary())
        return;
    if (adType_ == kImageAd) {
        imageContentURL_ = urlOf(*object, "content-url");
        imageTapThroughURL_ = urlOf(*object, "tap-through");
        imageWillOpenApp_ = textOf(*object, "will-open");
        imageExpands_ = flagOf(*object, "expands");
        imageIsInterstitial_ = flagOf(*object, "interstitial");
        return;
    }
    videoId_ = textOf(*object, "id");
    videoContentURL_ = urlOf(*object, "content-url");
    showControls_ = flagOf(*object, "showVideoPlayerControls");
    showCountdownHUD_ = flagOf(*object, "showCountdownHUD");
    videoHeight_ = numberOf(*object, "height");
    videoWidth_ = numberOf(*object, "width");
    startActivity_ = arrayOf(*object, "startActivity");
    endActivity_ = arrayOf(*object, "endActivity");
    logs_ = arrayOf(*object, "log");
    videoDuration_ = numberOf(*object, "duration");
    const auto* completion = field(*object, "onCompletion");
    if (completion && completion->dictionary())
        onCompletion_ = *completion->dictionary();
}

std::string MRJSONAd::description() const {
    return "MRJSONAd: " + (rawResponse_ ? rawResponse_->toJSON() : std::string("(null)"));
}

} // namespace meridian
