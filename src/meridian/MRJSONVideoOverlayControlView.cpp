#include "meridian/MRJSONVideoOverlayControlView.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/Animation.h"

namespace meridian {

std::shared_ptr<MRJSONVideoOverlayControlView>
MRJSONVideoOverlayControlView::create(const platform::Rect& frame,
                                      std::vector<std::shared_ptr<MRJSONVideoButton>> jsonVideoButtons,
                                      bool showCountdownHUD,
                                      std::weak_ptr<MRJSONVideoOverlayControlViewDelegate> delegate) {
    std::shared_ptr<MRJSONVideoOverlayControlView> view(new MRJSONVideoOverlayControlView(frame));
    view->delegate_ = std::move(delegate);
    view->jsonVideoButtons_ = std::move(jsonVideoButtons);
    view->setBackgroundColor(platform::Color::white(1.0, 0.0));
    std::shared_ptr<MRJSONVideoButtonDelegate> asButtonDelegate(view, static_cast<MRJSONVideoButtonDelegate*>(view.get()));
    for (const auto& videoButton : view->jsonVideoButtons_) {
        if (!videoButton)
            continue;
        videoButton->setDelegate(asButtonDelegate);
        if (auto button = videoButton->button())
            view->buttons_.push_back(Entry{videoButton, button});
    }
    if (showCountdownHUD)
        view->createAndShowCountdownLabel();
    std::weak_ptr<MRJSONVideoOverlayControlView> weak = view;
    platform::NotificationCenter::defaultCenter().addObserver(
        MRJSONVideoButton::kButtonWasTappedNotification,
        [weak](const platform::Notification&) {
            if (auto v = weak.lock())
                v->videoButtonWasTapped();
        },
        nullptr, view.get());
    return view;
}

MRJSONVideoOverlayControlView::~MRJSONVideoOverlayControlView() {
    platform::NotificationCenter::defaultCenter().removeObserver(static_cast<const void*>(this));
    platform::RunLoop::main().cancelPerforms(this);
}

std::string MRJSONVideoOverlayControlView::timeoutName(std::size_t entry) {
    return "timeoutButton:" + std::to_string(entry);
}

std::string MRJSONVideoOverlayControlView::fadeInName(std::size_t entry) {
    return "fadeInButton:" + std::to_string(entry);
}

void MRJSONVideoOverlayControlView::createAndShowCountdownLabel() {
    if (countdownLabel_)
        return;
    countdownLabel_ = std::make_shared<platform::Label>(
        platform::Rect(frame().width() - kCountdownRightInset, 0, kCountdownWidth, kCountdownHeight));
    countdownLabel_->setTextColor(platform::Color::whiteColor());
    countdownLabel_->setFont(platform::Font::systemFont(kCountdownFontSize));
    countdownLabel_->setAdjustsFontSizeToFitWidth(true);
    countdownLabel_->setTextAlignment(platform::TextAlignment::Right);
    countdownLabel_->setBackgroundColor(platform::Color::clearColor());
    countdownLabel_->setText(std::string(kCountdownStartText));
    addSubview(countdownLabel_);
}

void MRJSONVideoOverlayControlView::showButtons() {
    std::weak_ptr<MRJSONVideoOverlayControlView> weak = self();
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        platform::RunLoop::main().performAfter(
            buttons_[i].videoButton->appearanceDelay(),
            [weak, i] {
                if (auto v = weak.lock())
                    v->fadeInButton(i);
            },
            this, fadeInName(i));
}

void MRJSONVideoOverlayControlView::fadeInButton(std::size_t entry) {
    if (entry >= buttons_.size())
        return;
    const auto& e = buttons_[entry];
    if (e.button->superview().get() != this) {
        e.button->setAlpha(0);
        addSubview(e.button);
    }
    fadeButton(*e.button, e.videoButton->startOpacity(), e.videoButton->fadeDuration(), e.videoButton->animationId(),
               true);
}

void MRJSONVideoOverlayControlView::fadeButton(platform::View& view, double opacity, double duration,
                                               const std::string& animationId, bool performCallbackOnStop) {
    View::beginAnimations(animationId);
    View::setAnimationDuration(duration);
    if (performCallbackOnStop) {
        std::weak_ptr<MRJSONVideoOverlayControlView> weak = self();
        View::setAnimationDidStop([weak](const std::string& name, bool) {
            if (auto v = weak.lock())
                v->animationDidStop(name);
        });
    }
    view.setAlpha(opacity);
    View::commitAnimations();
}

void MRJSONVideoOverlayControlView::animationDidStop(const std::string& animationId) {
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i].videoButton->animationId() == animationId) {
            scheduleTimeout(i);
            return;
        }
}

void MRJSONVideoOverlayControlView::scheduleTimeout(std::size_t entry) {
    std::weak_ptr<MRJSONVideoOverlayControlView> weak = self();
    platform::RunLoop::main().performAfter(
        buttons_[entry].videoButton->inactivityTimeout(),
        [weak, entry] {
            if (auto v = weak.lock())
                v->timeoutButton(entry);
        },
        this, timeoutName(entry));
}

void MRJSONVideoOverlayControlView::timeoutButton(std::size_t entry) {
    if (entry >= buttons_.size() || videoFinishedPlaying_)
        return;
    const auto& e = buttons_[entry];
    fadeButton(*e.button, e.videoButton->endOpacity(), e.videoButton->fadeDuration());
}

void MRJSONVideoOverlayControlView::fadeInButtons() {
    if (videoFinishedPlaying_)
        return;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        platform::RunLoop::main().cancelPerforms(this, timeoutName(i));
        buttons_[i].button->setAlpha(buttons_[i].videoButton->startOpacity());
    }
}

void MRJSONVideoOverlayControlView::stopTimeouts() {
    for (auto entry : timeoutTimers_)
        platform::RunLoop::main().cancelPerforms(this, timeoutName(entry));
    timeoutTimers_.clear();
}

void MRJSONVideoOverlayControlView::startTimeouts() {
    if (videoFinishedPlaying_)
        return;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        scheduleTimeout(i);
        timeoutTimers_.push_back(i);
    }
}

void MRJSONVideoOverlayControlView::videoFinishedPlaying() {
    stopTimeouts();
    // Fade-outs scheduled at the end of a fade-in, and fade-ins still to come, would undo
    // "every button shown from now on": they are cancelled too.
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        platform::RunLoop::main().cancelPerforms(this, timeoutName(i));
        platform::RunLoop::main().cancelPerforms(this, fadeInName(i));
    }
    if (countdownLabel_) {
        countdownLabel_->removeFromSuperview();
        countdownLabel_.reset();
    }
    videoFinishedPlaying_ = true;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        auto& e = buttons_[i];
        e.button->setAlpha(e.videoButton->startOpacity());
        if (e.button->superview().get() == this)
            continue;
        if (i + 1 < buttons_.size())
            insertSubviewBelow(e.button, buttons_[i + 1].button.get());
        else
            addSubview(e.button);
    }
}

void MRJSONVideoOverlayControlView::restart() {
    if (!buttons_.empty()) {
        for (std::size_t i = 0; i < buttons_.size(); ++i) {
            platform::RunLoop::main().cancelPerforms(this, timeoutName(i));
            platform::RunLoop::main().cancelPerforms(this, fadeInName(i));
        }
        timeoutTimers_.clear();
    }
    videoFinishedPlaying_ = false;
    for (auto& e : buttons_) {
        e.button->removeFromSuperview();
        e.button->setAlpha(e.videoButton->startOpacity());
    }
    showButtons();
    createAndShowCountdownLabel();
}

void MRJSONVideoOverlayControlView::touchesBegan(const platform::TouchSet& touches, const platform::Event& event) {
    View::touchesBegan(touches, event);
    fadeInButtons();
    stopTimeouts();
}

void MRJSONVideoOverlayControlView::touchesEnded(const platform::TouchSet& touches, const platform::Event& event) {
    View::touchesEnded(touches, event);
    stopTimeouts();
    startTimeouts();
}

void MRJSONVideoOverlayControlView::touchesCancelled(const platform::TouchSet& touches, const platform::Event& event) {
    View::touchesCancelled(touches, event);
    stopTimeouts();
    startTimeouts();
}

void MRJSONVideoOverlayControlView::videoButtonWasTapped() {
    fadeInButtons();
    stopTimeouts();
    startTimeouts();
}

void MRJSONVideoOverlayControlView::jsonVideoButtonWasTapped(MRJSONVideoButton& button) {
    auto keep = sharedView();
    if (auto d = delegate_.lock())
        d->jsonVideoButtonWasTapped(button, *this);
}

} // namespace meridian
