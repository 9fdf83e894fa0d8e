#pragma once
// The full-screen slot's interstitial: the ad view controller of the full-screen slot (size
// code 2), made once by the engine. It keeps one delegate per full-screen slot name, presents
// the slot's ad in the full-screen window when its content starts to load (the ad then counts
// as shown), covers it with a "Loading" box until the content is in, and offers the script a
// delayed "Menu" button with an action sheet whose buttons the script defines ("Skip" last).
//
// Ownership: the engine's full-screen support holds the controller for the life of the
// engine; the delegates are held weakly in the table; the menu timer holds the controller
// weakly. Main thread only.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cobalt/CBAdView.h"
#include "platform/ui/ActionSheet.h"

namespace platform {
class Button;
} // namespace platform

namespace cobalt {

class CBMessageBox;

class CBFullScreenAdController : public CBAdViewInternal, public platform::ActionSheetDelegate {
public:
    static constexpr const char* kLoadingMessage = "Loading";
    static constexpr const char* kMenuTitle = "Menu";
    static constexpr const char* kSkipTitle = "Skip";
    static constexpr double kMenuFadeDuration = 0.5;
    static constexpr std::size_t kActionSheetCapacity = 4;

    static std::shared_ptr<CBFullScreenAdController> create();

    bool controlsFullScreenSlot() const override { return true; }
    std::shared_ptr<platform::View> containerView() const override { return nullptr; }
    bool isAdReady() override;
    void setDelegate(std::weak_ptr<CobaltDelegate>) override {}
    void setDelegateForSlotNamed(std::weak_ptr<CobaltDelegate> delegate, const std::string& slotName);
    bool notifyDelegateAdReadyForSlotNamed(const std::string& slotName) override;
    bool displayAdForSlot(const std::shared_ptr<CBAdSlot>& slot);
    bool isDisplaying() const { return m_slot && m_slot->isDisplayed(); }
    void adContentWillLoad() override;
    void adContentDidLoad() override;
    void adDisplayFailedForSlotNamed(const std::string& slotName) override;
    void showAdLoadingIndicator();
    void hideAdLoadingIndicator() override;
    void layout() override;

    void prepareActionSheet() override;
    void addButtonToActionSheet(const std::string& title, const std::string& callback) override;
    void displayActionSheet() override { displayActionSheetWithDismissAnimation(true); }
    void displayActionSheetWithDismissAnimation(bool animated);
    void actionSheetDidDismissWithButtonIndex(platform::ActionSheet&, int buttonIndex) override;
    void scheduleMenuButtonAppearance();
    void showMenuButton();
    void hideMenuButton();
    void addMenuButton();
    void placeMenuButton();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground() override;

    bool shouldDisplayActionSheetOnEnterForeground() const { return m_shouldDisplayActionSheetOnEnterForeground; }
    const std::shared_ptr<platform::ActionSheet>& actionSheet() const { return m_actionSheet; }
    const std::shared_ptr<platform::Button>& menuButton() const { return m_menuButton; }
    const std::shared_ptr<CBMessageBox>& adLoadingIndicator() const { return m_adLoadingIndicator; }
    struct ActionSheetButton {
        std::string title;
        std::string callback;
    };
    const std::vector<ActionSheetButton>& actionSheetButtons() const { return m_actionSheetButtons; }

private:
    CBFullScreenAdController() = default;

    std::map<std::string, std::weak_ptr<CobaltDelegate>> m_delegateDict;
    std::shared_ptr<platform::ActionSheet> m_actionSheet;
    std::vector<ActionSheetButton> m_actionSheetButtons;
    std::shared_ptr<platform::Timer> m_menuTimer;
    std::shared_ptr<platform::Button> m_menuButton;
    std::shared_ptr<CBMessageBox> m_adLoadingIndicator;
    bool m_shouldDisplayActionSheetOnEnterForeground = false;
};

} // namespace cobalt
