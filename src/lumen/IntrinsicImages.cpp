#include "lumen/IntrinsicImages.h"

#include "lumen/StringEncoding.h"

namespace lumen {

namespace {

constexpr double kImageScale = 2.0;

constexpr const char* kCloseButtonPNG =
    "iVBORw0KGgoAAAANSUhEUgAAADIAAAAyCAYAAAAeP4ixAAAA6ElEQVR42u2aURKAIAgFu/8Zu0t1gCYRngarzPRXyYbaAzyObXC7"
    "jFba+bRQl9jSATy3nF/X70Bex71g0yCiABagchDDYWYBtIBKQkhh/oaQwWSAeIMpGY1wVDJBuKPSCxEF9oxlgolIDcGU0YB4o+GB"
    "8T5rgpnlkOoDyBd5j2NRudMEUc/3t3coNFtzK1ZsuV+OKoXncBBL0qQeY+hPcCTEVJBG1ndukD21Vl3s6bbf0j9EjERZWjSmlfGY"
    "xAqV6mKKD6hyEKZAhyqZYorYqLYCqtGDar2hmqGo9jTuwADuCAfuUM02od0eLZI1JyOaOwAAAABJRU5ErkJggg==";

constexpr const char* kBrowserBackButtonPNG =
    "iVBORw0KGgoAAAANSUhEUgAAADYAAAA2CAYAAACMRWrdAAAAcElEQVR42u3YQQrDMAwAwfz/08o1l0KJU3C2Mz9YMLKt4wAAAHjc"
    "XCSjEmHzQS7o1WHzhVzQq8LmhmTU1mGzKBe0Zdg8KBe0Rdj8kDBH0fD4o3GfvqDzT6r8Izj9bcl/NPOrgfQyJ79+yy9MAQCARSeT"
    "WyMkfjGq2wAAAABJRU5ErkJggg==";

constexpr const char* kBrowserForwardButtonPNG =
    "iVBORw0KGgoAAAANSUhEUgAAADYAAAA2CAYAAACMRWrdAAAAZklEQVR42u3YWwrAIAxFQfe/6VvoV38K0geYOLODAxI1YwAAAJxy"
    "0TasVVxutA0rH5gJbcNKBuaBtmEl4vJS27BlA/OhtmFLBeZHwhxFw8O43+eC9gj2bfHRtBrYY5ljYQoAADDlAHp7IySJxfO4AAAA"
    "AElFTkSuQmCC";
} // namespace

std::shared_ptr<platform::Image> LMNIntrinsicImages::createImageFromEncoding(std::string_view encoding) {
    auto bytes = UTLStringEncoding::rfc4648Base64StringEncoding().decode(encoding);
    if (!bytes)
        return nullptr;
    auto decoded = platform::Image::fromData(*bytes);
    if (!decoded)
        return nullptr;
    return std::make_shared<platform::Image>(decoded->pixelWidth(), decoded->pixelHeight(), decoded->pixels(),
                                             decoded->name(), kImageScale);
}

std::shared_ptr<platform::Image> LMNIntrinsicImages::closeButton() {
    static const auto image = createImageFromEncoding(kCloseButtonPNG);
    return image;
}

std::shared_ptr<platform::Image> LMNIntrinsicImages::browserBackButton() {
    static const auto image = createImageFromEncoding(kBrowserBackButtonPNG);
    return image;
}

std::shared_ptr<platform::Image> LMNIntrinsicImages::browserForwardButton() {
    static const auto image = createImageFromEncoding(kBrowserForwardButtonPNG);
    return image;
}

} // namespace lumen
