#pragma once
// The base of everything that takes part in touch handling and keyboard focus: views and
// view controllers. Touches that a responder does not handle go up the responder chain
// (a view's next responder is its view controller when it is one's root view, else its
// superview; a view controller's is the superview of its view).
//
// One responder at a time is the first responder (the text field that has the keyboard,
// for instance). It is tracked process-wide, weakly: a first responder that goes away
// simply leaves no first responder. Main thread only.
#include <memory>

#include "platform/ui/Event.h"

namespace platform {

class Responder : public std::enable_shared_from_this<Responder> {
public:
    Responder() = default;
    virtual ~Responder() = default;
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    virtual Responder* nextResponder() const { return nullptr; }

    virtual bool canBecomeFirstResponder() const { return false; }
    virtual bool canResignFirstResponder() const { return true; }
    // Makes this the first responder when it can, after asking the current one to resign;
    // answers whether it is the first responder now.
    virtual bool becomeFirstResponder();
    // Gives up first-responder status; answers false when refused.
    virtual bool resignFirstResponder();
    bool isFirstResponder() const;
    static std::shared_ptr<Responder> currentFirstResponder();
    // Forgets the first responder without telling it (tests start clean).
    static void resetFirstResponderForTesting();

    // Default: pass to the next responder.
    virtual void touchesBegan(const TouchSet& touches, const Event& event);
    virtual void touchesMoved(const TouchSet& touches, const Event& event);
    virtual void touchesEnded(const TouchSet& touches, const Event& event);
    virtual void touchesCancelled(const TouchSet& touches, const Event& event);

protected:
    // Called after the status changed hands (no call when becoming was refused).
    virtual void didBecomeFirstResponder() {}
    virtual void didResignFirstResponder() {}
};

} // namespace platform
