#include "meridian/MRJSONAd.h"

#include <array>
#include <cmath>

#include "meridian/MRCommon.h"
#include "platform/foundation/DateFormatter.h"

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

// The form of "expiration": "2030-01-01 00:00:00 +0000".
constexpr std::string_view kExpirationPattern = "yyyy-MM-dd HH:mm:ss Z";

std::optional<platform::Date> dateOf(const platform::Value& object, std::string_view key) {
    const auto* v = field(object, key);
    if (!v || !v->string())
        return std::nullopt;
    static const platform::DateFormatter formatter(kExpirationPattern, platform::TimeZone::utc());
    return formatter.date(*v->string());
}

// Plain values of an archive back into the reply's values, each of the kind it was written; objects of archived classes and
// values of other kinds read as nothing.
std::optional<platform::Value> plainValue(const platform::ArchivedValue& value) {
    if (const auto* s = value.string())
        return platform::Value(*s);
    // Each number comes back as the kind it was written: a boolean stays a boolean and a
    // whole real stays a real, so an ad read from the cache logs the same values as the reply.
    if (value.isBoolean())
        return platform::Value(*value.boolean());
    if (value.isInteger())
        return platform::Value(*value.integer());
    if (auto n = value.number())
        return platform::Value(*n);
    if (const auto* d = value.data())
        return platform::Value(*d);
    if (auto d = value.date())
        return platform::Value(*d);
    if (const auto* u = value.url())
        return platform::Value(u->absoluteString());
    if (const auto* list = value.array()) {
        platform::Array out;
        for (const auto& item : *list)
            if (auto v = plainValue(item))
                out.push_back(std::move(*v));
        return platform::Value(std::move(out));
    }
    if (const auto* dict = value.dictionary()) {
        platform::Dictionary out;
        for (const auto& [k, item] : *dict)
            if (auto v = plainValue(item))
                out.emplace(k, std::move(*v));
        return platform::Value(std::move(out));
    }
    return std::nullopt;
}

std::optional<platform::Array> plainArray(const platform::ArchivedValue& value) {
    auto v = value.array() ? plainValue(value) : std::nullopt;
    return v && v->array() ? std::optional<platform::Array>(*v->array()) : std::nullopt;
}

std::optional<platform::Dictionary> plainDictionary(const platform::ArchivedValue& value) {
    auto v = value.dictionary() ? plainValue(value) : std::nullopt;
    return v && v->dictionary() ? std::optional<platform::Dictionary>(*v->dictionary()) : std::nullopt;
}

template <typename T> platform::ArchivedValue optionalValue(const std::optional<T>& value) {
    return value ? platform::ArchivedValue::fromValue(platform::Value(*value)) : platform::ArchivedValue();
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
    videoExpirationDate_ = dateOf(*object, "expiration");
    if (auto buttons = arrayOf(*object, "buttons"))
        videoButtons_ = arrayForVideoButtons(*buttons);
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

MRJSONAd::VideoButtons MRJSONAd::arrayForVideoButtons(const platform::Array& buttons) {
    VideoButtons out;
    for (const auto& element : buttons)
        if (const auto* json = element.dictionary())
            out.push_back(MRJSONVideoButton::initWithJSONButton(*json));
    return out;
}

void MRJSONAd::downloadButtons(std::function<void()> pictureArrived) {
    if (!videoButtons_ || buttonsHaveBeenDownloaded_)
        return;
    buttonsHaveBeenDownloaded_ = true;
    for (const auto& button : *videoButtons_) {
        button->setImageArrivedHandler(pictureArrived);
        button->button();
    }
}

void MRJSONAd::resolveCachedAddresses() {
    videoContentURL_ = mrResolveCachedURL(videoContentURL_);
    for (auto* list : {&startActivity_, &endActivity_})
        if (*list)
            mrResolveCachedAddresses(**list);
    if (logs_)
        for (auto& entry : *logs_)
            if (auto* dict = entry.dictionary())
                if (auto urls = dict->find("urls"); urls != dict->end())
                    if (auto* list = urls->second.array())
                        mrResolveCachedAddresses(*list);
    if (onCompletion_)
        if (auto url = onCompletion_->find("url"); url != onCompletion_->end())
            if (const auto* text = url->second.string())
                url->second = platform::Value(mrResolveCachedAddress(*text));
    if (videoButtons_)
        for (const auto& button : *videoButtons_)
            button->resolveCachedAddresses();
}

void MRJSONAd::updateAdWithAd(const MRJSONAd& older) {
    auto own = std::move(videoButtons_);
    videoButtons_ = older.videoButtons_;
    if (!own || !videoButtons_)
        return;
    for (const auto& fresh : *own)
        for (const auto& kept : *videoButtons_)
            if (kept->isEqualToVideoButton(*fresh)) {
                kept->setActivity(fresh->activity());
                kept->setComponent(fresh->component());
                break;
            }
}

const platform::CodingClasses& MRJSONAd::codingClasses() {
    static const platform::CodingClasses classes = [] {
        platform::CodingClasses c;
        c.add<MRJSONAd>();
        c.add<MRJSONVideoButton>();
        return c;
    }();
    return classes;
}

void MRJSONAd::encodeWithCoder(platform::KeyedArchiver& coder) const {
    coder.encodeObject(videoId_, "videoId");
    coder.encodeObject(videoContentURL_ ? platform::ArchivedValue(*videoContentURL_) : platform::ArchivedValue(),
                       "videoContentURL");
    coder.encodeObject(videoExpirationDate_ ? platform::ArchivedValue(*videoExpirationDate_) : platform::ArchivedValue(),
                       "videoExpirationDate");
    coder.encodeFloat(static_cast<float>(videoSizeInMB_), "videoSizeInMB");
    platform::ArchivedValue buttons;
    if (videoButtons_) {
        platform::ArchivedArray list;
        for (const auto& button : *videoButtons_)
            list.emplace_back(button);
        buttons = platform::ArchivedValue(std::move(list));
    }
    coder.encodeObject(buttons, "videoButtons");
    coder.encodeObject(videoOreientation_, "videoOreientation");
    coder.encodeFloat(static_cast<float>(videoWidth_), "videoWidth");
    coder.encodeFloat(static_cast<float>(videoHeight_), "videoHeight");
    coder.encodeBool(showControls_, "showVideoPlayerControls");
    coder.encodeBool(isFullscreen_, "isFullscreen");
    coder.encodeObject(optionalValue(onCompletion_), "onCompletion");
    coder.encodeObject(platform::ArchivedValue::fromValue(platform::Value(logMetaData_)), "logMetaData");
    coder.encodeObject(optionalValue(startActivity_), "startActivity");
    coder.encodeObject(optionalValue(endActivity_), "endActivity");
    coder.encodeObject(optionalValue(logs_), "log");
    coder.encodeFloat(static_cast<float>(videoDuration_), "duration");
    coder.encodeBool(showCountdownHUD_, "showCountdownHUD");
    coder.encodeBool(buttonsHaveBeenDownloaded_, "buttonsHaveBeenDownloaded");
}

std::shared_ptr<MRJSONAd> MRJSONAd::initWithCoder(platform::KeyedUnarchiver& coder) {
    std::shared_ptr<MRJSONAd> ad(new MRJSONAd());
    if (auto value = coder.decodeObjectForKey("videoId"); const auto* id = value.string())
        ad->videoId_ = *id;
    auto content = coder.decodeObjectForKey("videoContentURL");
    if (const auto* url = content.url())
        ad->videoContentURL_ = *url;
    ad->videoExpirationDate_ = coder.decodeObjectForKey("videoExpirationDate").date();
    ad->videoSizeInMB_ = coder.decodeFloatForKey("videoSizeInMB");
    if (auto value = coder.decodeObjectForKey("videoButtons"); const auto* list = value.array()) {
        VideoButtons buttons;
        for (const auto& item : *list)
            if (auto button = item.objectOf<MRJSONVideoButton>())
                buttons.push_back(std::move(button));
        ad->videoButtons_ = std::move(buttons);
    }
    if (auto value = coder.decodeObjectForKey("videoOreientation"); const auto* orientation = value.string())
        ad->videoOreientation_ = *orientation;
    ad->videoWidth_ = coder.decodeFloatForKey("videoWidth");
    ad->videoHeight_ = coder.decodeFloatForKey("videoHeight");
    ad->showControls_ = coder.decodeBoolForKey("showVideoPlayerControls");
    ad->isFullscreen_ = coder.decodeBoolForKey("isFullscreen");
    ad->onCompletion_ = plainDictionary(coder.decodeObjectForKey("onCompletion"));
    ad->logMetaData_ = plainDictionary(coder.decodeObjectForKey("logMetaData")).value_or(platform::Dictionary{});
    ad->startActivity_ = plainArray(coder.decodeObjectForKey("startActivity"));
    ad->endActivity_ = plainArray(coder.decodeObjectForKey("endActivity"));
    ad->logs_ = plainArray(coder.decodeObjectForKey("log"));
    ad->videoDuration_ = coder.decodeFloatForKey("duration");
    ad->showCountdownHUD_ = coder.decodeBoolForKey("showCountdownHUD");
    ad->buttonsHaveBeenDownloaded_ = coder.decodeBoolForKey("buttonsHaveBeenDownloaded");
    ad->adType_ = kVideoAd;
    return ad;
}

std::string MRJSONAd::description() const {
    return "MRJSONAd: " + (rawResponse_ ? rawResponse_->toJSON() : std::string("(null)"));
}

} // namespace meridian
