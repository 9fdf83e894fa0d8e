#include "meridian/MRJSONVideoButton.h"

#include <cstdio>
#include <utility>

#include "meridian/MRCommon.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Strings.h"
#include "platform/net/URLConnection.h"
#include "platform/runloop/RunLoop.h"

namespace meridian {

namespace {

// JSON keys of a button object.
constexpr std::string_view kImageKey = "image";
constexpr std::string_view kURLKey = "url";
constexpr std::string_view kXKey = "x-location";
constexpr std::string_view kYKey = "y-location";
constexpr std::string_view kTitleKey = "title";
constexpr std::string_view kButtonColorKey = "buttonColor";
constexpr std::string_view kTextColorKey = "textColor";
constexpr std::string_view kHeightKey = "height";
constexpr std::string_view kWidthKey = "width";
constexpr std::string_view kFontSizeKey = "fontSize";
constexpr std::string_view kComponentKey = "component";
constexpr std::string_view kActivityKey = "activity";
constexpr std::string_view kAppearanceDelayKey = "appearanceDelay";
constexpr std::string_view kInactivityTimeoutKey = "inactivityTimeout";
constexpr std::string_view kOpacityKey = "opacity";
constexpr std::string_view kStartKey = "start";
constexpr std::string_view kEndKey = "end";
constexpr std::string_view kFadeDurationKey = "fadeDuration";

// The name of the delayed perform that ends a picture fetch at its bound.
constexpr std::string_view kImageFetchBoundName = "imageFetchBound";

constexpr std::size_t kHexColorLength = 6;
constexpr std::size_t kHashedHexMinimumLength = 6; // longer than 5 characters

const platform::Value* field(const platform::Dictionary& object, std::string_view key) {
    auto it = object.find(key);
    return it == object.end() || it->second.isNull() ? nullptr : &it->second;
}

std::optional<platform::URL> urlOf(const platform::Dictionary& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->string() ? platform::URL::parse(*v->string()) : std::nullopt;
}

double numberOf(const platform::Dictionary& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->isNumber() ? v->doubleOr(0) : 0;
}

std::string textOf(const platform::Dictionary& object, std::string_view key) {
    const auto* v = field(object, key);
    return v && v->string() ? *v->string() : std::string();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> text(const platform::ArchivedValue& value) {
    return value.string() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

std::optional<platform::URL> url(const platform::ArchivedValue& value) {
    if (value.url())
        return *value.url();
    return value.string() ? platform::URL::parse(*value.string()) : std::nullopt;
}

std::optional<platform::Array> strings(const platform::ArchivedValue& value) {
    const auto* list = value.array();
    if (!list)
        return std::nullopt;
    platform::Array out;
    for (const auto& item : *list)
        if (item.string())
            out.emplace_back(*item.string());
    return out;
}

} // namespace

std::shared_ptr<MRJSONVideoButton> MRJSONVideoButton::initWithJSONButton(const platform::Dictionary& json) {
    std::shared_ptr<MRJSONVideoButton> b(new MRJSONVideoButton());
    b->imageURL_ = urlOf(json, kImageKey);
    b->tapURL_ = urlOf(json, kURLKey);
    b->xLocation_ = numberOf(json, kXKey);
    b->yLocation_ = numberOf(json, kYKey);
    b->title_ = textOf(json, kTitleKey);
    const auto* background = field(json, kButtonColorKey);
    b->buttonColor_ = background ? colorFromString(background->stringOr("")) : platform::Color::blackColor();
    const auto* foreground = field(json, kTextColorKey);
    b->textColor_ = foreground ? colorFromString(foreground->stringOr("")) : platform::Color::whiteColor();
    b->buttonHeight_ = numberOf(json, kHeightKey);
    b->buttonWidth_ = numberOf(json, kWidthKey);
    double fontSize = numberOf(json, kFontSizeKey);
    b->buttonFont_ = platform::Font::systemFont(fontSize > 0 ? fontSize : kDefaultFontSize);
    b->component_ = textOf(json, kComponentKey);
    if (const auto* activity = field(json, kActivityKey); activity && activity->array())
        b->activity_ = *activity->array();
    b->appearanceDelay_ = numberOf(json, kAppearanceDelayKey);
    b->inactivityTimeout_ = numberOf(json, kInactivityTimeoutKey);
    if (const auto* opacity = field(json, kOpacityKey); opacity && opacity->dictionary()) {
        b->startOpacity_ = numberOf(*opacity->dictionary(), kStartKey);
        b->endOpacity_ = numberOf(*opacity->dictionary(), kEndKey);
        b->fadeDuration_ = numberOf(*opacity->dictionary(), kFadeDurationKey);
    }
    return b;
}

// Colour texts, split at ",": four parts are red, green, blue and alpha from 0 to 1; three
// are red, green and blue with alpha 1; one part is "RRGGBB" hexadecimal (with or without a
// leading "#", any letter case), and any other single text is black; two parts or more than
// four give no colour.
std::optional<platform::Color> MRJSONVideoButton::colorFromString(std::string_view text) {
    auto parts = platform::split(text, ",");
    auto component = [&](std::size_t i) { return platform::doubleValue(parts[i]); };
    switch (parts.size()) {
    case 4:
        return platform::Color::rgba(component(0), component(1), component(2), component(3));
    case 3:
        return platform::Color::rgba(component(0), component(1), component(2), 1.0);
    case 1: {
        std::string hex = platform::toUpper(platform::trim(parts[0]));
        if (hex.size() >= kHashedHexMinimumLength && hex.front() == '#')
            hex.erase(0, 1);
        if (hex.size() != kHexColorLength)
            return platform::Color::blackColor();
        double rgb[3];
        for (int i = 0; i < 3; ++i) {
            int high = hexDigit(hex[2 * i]), low = hexDigit(hex[2 * i + 1]);
            if (high < 0 || low < 0)
                return platform::Color::blackColor();
            rgb[i] = (high * 16 + low) / 255.0;
        }
        return platform::Color::rgba(rgb[0], rgb[1], rgb[2], 1.0);
    }
    default:
        return std::nullopt;
    }
}

std::shared_ptr<platform::Button> MRJSONVideoButton::button() {
    if (generatedButton_)
        return generatedButton_;
    auto b = std::make_shared<platform::Button>(platform::Rect{}, platform::ButtonType::Custom);
    generatedButton_ = b;
    if (!title_.empty()) {
        for (unsigned state : {platform::ControlState::Normal, platform::ControlState::Highlighted,
                               platform::ControlState::Selected}) {
            b->setTitle(title_, state);
            if (textColor_)
                b->setTitleColor(*textColor_, state);
        }
        b->titleLabel().setFont(buttonFont_);
        if (buttonColor_)
            b->setBackgroundColor(*buttonColor_);
        platform::Size size{buttonWidth_, buttonHeight_};
        if (buttonWidth_ == 0 || buttonHeight_ == 0)
            size = b->titleLabel().sizeThatFits({});
        b->setFrame(platform::Rect(xLocation_, yLocation_, size.width, size.height));
    } else if (imageURL_ || image_ || imageData_) {
        if (!image_ && imageData_)
            image_ = platform::Image::fromData(*imageData_);
        layOutPicture();
        // A picture has no text to name the button by: the reply's component ("close") does.
        b->setAccessibilityLabel(component_);
        if (!image_ && !imageData_ && imageURL_)
            startImageFetch();
    }
    if (tapURL_ && !tapURL_->absoluteString().empty())
        b->addTarget(shared_from_this(), &MRJSONVideoButton::buttonWasTapped, platform::ControlEvent::TouchUpInside);
    return b;
}

MRJSONVideoButton::~MRJSONVideoButton() {
    if (imageFetch_)
        stopImageFetch();
}

void MRJSONVideoButton::layOutPicture() {
    if (!generatedButton_)
        return;
    const platform::Size size = image_ ? image_->size() : platform::Size{};
    generatedButton_->setFrame(platform::Rect(xLocation_, yLocation_, size.width, size.height));
    generatedButton_->setBackgroundImage(image_, platform::ControlState::Normal);
    generatedButton_->setBackgroundImage(image_, platform::ControlState::Highlighted);
}

void MRJSONVideoButton::startImageFetch() {
    if (imageFetch_ || !imageURL_)
        return;
    std::weak_ptr<MRJSONVideoButton> weak = weak_from_this();
    imageFetch_ = platform::URLConnection::sendAsynchronousRequest(
        platform::URLRequest(*imageURL_),
        [weak](const std::optional<platform::URLResponse>& response, const platform::Data& data,
               const std::optional<platform::Error>& error) {
            if (auto self = weak.lock())
                self->imageFetchEnded(response, data, error);
        },
        kMaximumImageBytes);
    // The server's pace does not stretch the fetch: it ends at the bound, picture or not.
    platform::RunLoop::main().performAfter(
        kImageFetchSeconds,
        [weak] {
            if (auto self = weak.lock()) {
                mrLog("Video button picture not fetched in time: " + self->imageURL_->absoluteString());
                self->stopImageFetch();
            }
        },
        this, std::string(kImageFetchBoundName));
}

void MRJSONVideoButton::stopImageFetch() {
    platform::RunLoop::main().cancelPerforms(this, kImageFetchBoundName);
    if (auto fetch = std::exchange(imageFetch_, nullptr))
        fetch->cancel();
}

void MRJSONVideoButton::imageFetchEnded(const std::optional<platform::URLResponse>& response,
                                        const platform::Data& data,
                                        const std::optional<platform::Error>& error) {
    auto keep = shared_from_this();
    stopImageFetch();
    const int status = response ? response->statusCode() : 0;
    if (error || status < 200 || status > 299)
        return;
    imageData_ = data;
    image_ = platform::Image::fromData(*imageData_);
    layOutPicture();
    if (imageArrived_)
        imageArrived_();
}

void MRJSONVideoButton::buttonWasTapped() {
    auto keep = shared_from_this();
    platform::NotificationCenter::defaultCenter().post(kButtonWasTappedNotification);
    if (auto d = delegate_.lock())
        d->jsonVideoButtonWasTapped(*this);
}

bool MRJSONVideoButton::isEqualToVideoButton(const MRJSONVideoButton& other) const {
    if (!imageURL_ || !other.imageURL_ || imageURL_->absoluteString() != other.imageURL_->absoluteString())
        return false;
    if (tapURL_ && other.tapURL_)
        return tapURL_->absoluteString() == other.tapURL_->absoluteString();
    return true;
}

std::string MRJSONVideoButton::animationId() const {
    char text[64];
    std::snprintf(text, sizeof text, "<MRJSONVideoButton : %llx>",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)));
    return text;
}

std::string MRJSONVideoButton::description() const {
    return "<MRJSONVideoButton: url = " + (imageURL_ ? imageURL_->absoluteString() : "(null)") +
           ", tap = " + (tapURL_ ? tapURL_->absoluteString() : "(null)") + ", component = " + component_ + ">";
}

void MRJSONVideoButton::setComponent(std::string component) {
    component_ = std::move(component);
    if (generatedButton_ && title_.empty())
        generatedButton_->setAccessibilityLabel(component_);
}

void MRJSONVideoButton::resolveCachedAddresses() {
    imageURL_ = mrResolveCachedURL(imageURL_);
    tapURL_ = mrResolveCachedURL(tapURL_);
    if (activity_)
        mrResolveCachedAddresses(*activity_);
}

void MRJSONVideoButton::encodeWithCoder(platform::KeyedArchiver& coder) const {
    platform::ArchivedArray activity;
    if (activity_)
        for (const auto& item : *activity_)
            activity.emplace_back(item.stringOr(""));
    coder.encodeObject(activity_ ? platform::ArchivedValue(activity) : platform::ArchivedValue(), "activity");
    coder.encodeObject(imageURL_ ? platform::ArchivedValue(*imageURL_) : platform::ArchivedValue(), "imageURL");
    coder.encodeObject(imageData_ ? platform::ArchivedValue(*imageData_) : platform::ArchivedValue(), "imageData");
    coder.encodeObject(tapURL_ ? platform::ArchivedValue(*tapURL_) : platform::ArchivedValue(), "tapURL");
    coder.encodeFloat(static_cast<float>(xLocation_), "xLocation");
    coder.encodeFloat(static_cast<float>(yLocation_), "yLocation");
    coder.encodeObject(title_, "title");
    coder.encodeObject(buttonColor_ ? platform::ArchivedValue(*buttonColor_) : platform::ArchivedValue(), "buttonColor");
    coder.encodeObject(textColor_ ? platform::ArchivedValue(*textColor_) : platform::ArchivedValue(), "textColor");
    coder.encodeObject(buttonFont_, "buttonFont");
    coder.encodeFloat(static_cast<float>(buttonHeight_), "buttonHeight");
    coder.encodeFloat(static_cast<float>(buttonWidth_), "buttonWidth");
    coder.encodeFloat(static_cast<float>(startOpacity_), "startOpacity");
    coder.encodeFloat(static_cast<float>(endOpacity_), "endOpacity");
    coder.encodeFloat(static_cast<float>(fadeDuration_), "fadeDuration");
    coder.encodeFloat(static_cast<float>(appearanceDelay_), "appearanceDelay");
    coder.encodeFloat(static_cast<float>(inactivityTimeout_), "inactivityTimeout");
    coder.encodeObject(component_, "component");
}

std::shared_ptr<MRJSONVideoButton> MRJSONVideoButton::initWithCoder(platform::KeyedUnarchiver& coder) {
    std::shared_ptr<MRJSONVideoButton> b(new MRJSONVideoButton());
    b->activity_ = strings(coder.decodeObjectForKey("activity"));
    b->imageURL_ = url(coder.decodeObjectForKey("imageURL"));
    if (auto value = coder.decodeObjectForKey("imageData"); const auto* bytes = value.data())
        b->imageData_ = *bytes;
    b->tapURL_ = url(coder.decodeObjectForKey("tapURL"));
    b->xLocation_ = coder.decodeFloatForKey("xLocation");
    b->yLocation_ = coder.decodeFloatForKey("yLocation");
    b->title_ = text(coder.decodeObjectForKey("title")).value_or("");
    b->buttonColor_ = coder.decodeObjectForKey("buttonColor").color();
    b->textColor_ = coder.decodeObjectForKey("textColor").color();
    if (auto value = coder.decodeObjectForKey("buttonFont"); const auto* font = value.font())
        b->buttonFont_ = *font;
    b->buttonHeight_ = coder.decodeFloatForKey("buttonHeight");
    b->buttonWidth_ = coder.decodeFloatForKey("buttonWidth");
    b->startOpacity_ = coder.decodeFloatForKey("startOpacity");
    b->endOpacity_ = coder.decodeFloatForKey("endOpacity");
    b->fadeDuration_ = coder.decodeFloatForKey("fadeDuration");
    b->appearanceDelay_ = coder.decodeFloatForKey("appearanceDelay");
    b->inactivityTimeout_ = coder.decodeFloatForKey("inactivityTimeout");
    b->component_ = text(coder.decodeObjectForKey("component")).value_or("");
    if (b->imageData_)
        b->image_ = platform::Image::fromData(*b->imageData_);
    return b;
}

} // namespace meridian
