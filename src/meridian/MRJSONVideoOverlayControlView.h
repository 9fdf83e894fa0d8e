#pragma once
// MRJSONVideoOverlayControlView: the transparent view laid over a playing video ad. It holds
// the ad's buttons and runs their schedule: each button fades in (to its start opacity, over
// its fade duration) after its appearance delay, fades out (to its end opacity) after its
// inactivity time-out, and returns to its start opacity while a finger is on the video or
// after any button is tapped; at the end of the video every button is shown at its start
// opacity and stays so until a restart. It also shows the optional countdown label.
//
// Ownership: made by the video view with the player and owned by the player's view; the
// buttons are held strongly, the delegate (the video view) weakly. The schedule runs as
// delayed performs and view animations on the main run loop, each cancellable per button;
// nothing fires for a control view that is gone. Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "meridian/MRJSONVideoButton.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

namespace meridian {

class MRJSONVideoOverlayControlView;

class MRJSONVideoOverlayControlViewDelegate {
public:
    virtual ~MRJSONVideoOverlayControlViewDelegate() = default;
    virtual void jsonVideoButtonWasTapped(MRJSONVideoButton& button, MRJSONVideoOverlayControlView& overlay) = 0;
};

class MRJSONVideoOverlayControlView : public platform::View, public MRJSONVideoButtonDelegate {
public:
    static constexpr std::string_view kCountdownStartText = "Calculating time remaining...";
    static constexpr double kCountdownWidth = 150;
    static constexpr double kCountdownHeight = 20;
    static constexpr double kCountdownRightInset = 155;
    static constexpr double kCountdownFontSize = 14;

    // One built button: "videoButton" and "UIButton" of the button list.
    struct Entry {
        std::shared_ptr<MRJSONVideoButton> videoButton;
        std::shared_ptr<platform::Button> button;
    };

    // initWithFrame:jsonVideoButtons:showCountdownHUD:delegate: (builds every button, which
    // may fetch pictures; adds none yet).
    static std::shared_ptr<MRJSONVideoOverlayControlView>
    create(const platform::Rect& frame, std::vector<std::shared_ptr<MRJSONVideoButton>> jsonVideoButtons,
           bool showCountdownHUD, std::weak_ptr<MRJSONVideoOverlayControlViewDelegate> delegate);
    ~MRJSONVideoOverlayControlView() override;

    void createAndShowCountdownLabel();
    void showButtons();
    void fadeInButton(std::size_t entry);
    void timeoutButton(std::size_t entry);
    void fadeInButtons();
    void startTimeouts();
    void stopTimeouts();
    void videoFinishedPlaying();
    void restart();
    void fadeButton(platform::View& view, double opacity, double duration, const std::string& animationId = {},
                    bool performCallbackOnStop = false);
    void animationDidStop(const std::string& animationId);

    const std::vector<Entry>& buttons() const { return buttons_; }
    const std::vector<std::shared_ptr<MRJSONVideoButton>>& jsonVideoButtons() const { return jsonVideoButtons_; }
    const std::shared_ptr<platform::Label>& countdownLabel() const { return countdownLabel_; }
    bool isVideoFinishedPlaying() const { return videoFinishedPlaying_; }
    std::shared_ptr<MRJSONVideoOverlayControlViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MRJSONVideoOverlayControlViewDelegate> delegate) { delegate_ = std::move(delegate); }

    void touchesBegan(const platform::TouchSet& touches, const platform::Event& event) override;
    void touchesEnded(const platform::TouchSet& touches, const platform::Event& event) override;
    void touchesCancelled(const platform::TouchSet& touches, const platform::Event& event) override;
    void jsonVideoButtonWasTapped(MRJSONVideoButton& button) override;

private:
    explicit MRJSONVideoOverlayControlView(const platform::Rect& frame) : View(frame) {}
    std::shared_ptr<MRJSONVideoOverlayControlView> self() {
        return std::static_pointer_cast<MRJSONVideoOverlayControlView>(sharedView());
    }
    // Names of the per-entry delayed performs, so each can be cancelled on its own.
    static std::string timeoutName(std::size_t entry);
    static std::string fadeInName(std::size_t entry);
    void scheduleTimeout(std::size_t entry);
    void videoButtonWasTapped();

    std::vector<std::shared_ptr<MRJSONVideoButton>> jsonVideoButtons_;
    std::vector<Entry> buttons_;
    std::vector<std::size_t> timeoutTimers_;
    std::shared_ptr<platform::Label> countdownLabel_;
    std::weak_ptr<MRJSONVideoOverlayControlViewDelegate> delegate_;
    bool videoFinishedPlaying_ = false;
};

} // namespace meridian
