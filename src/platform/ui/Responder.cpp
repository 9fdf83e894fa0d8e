#include "platform/ui/Responder.h"

namespace platform {
namespace {
std::weak_ptr<Responder>& firstResponderSlot() {
    static std::weak_ptr<Responder> slot;
    return slot;
}
} // namespace

bool Responder::becomeFirstResponder() {
    if (isFirstResponder())
        return true;
    if (!canBecomeFirstResponder())
        return false;
    auto self = weak_from_this().lock();
    if (!self)
        return false;
    if (auto current = firstResponderSlot().lock()) {
        if (!current->resignFirstResponder())
            return false;
    }
    firstResponderSlot() = self;
    didBecomeFirstResponder();
    return true;
}

bool Responder::resignFirstResponder() {
    if (!isFirstResponder())
        return true;
    if (!canResignFirstResponder())
        return false;
    firstResponderSlot().reset();
    didResignFirstResponder();
    return true;
}

bool Responder::isFirstResponder() const {
    auto current = firstResponderSlot().lock();
    return current && current.get() == this;
}

std::shared_ptr<Responder> Responder::currentFirstResponder() {
    return firstResponderSlot().lock();
}

void Responder::resetFirstResponderForTesting() {
    firstResponderSlot().reset();
}

void Responder::touchesBegan(const TouchSet& touches, const Event& event) {
    if (auto* next = nextResponder())
        next->touchesBegan(touches, event);
}
void Responder::touchesMoved(const TouchSet& touches, const Event& event) {
    if (auto* next = nextResponder())
        next->touchesMoved(touches, event);
}
void Responder::touchesEnded(const TouchSet& touches, const Event& event) {
    if (auto* next = nextResponder())
        next->touchesEnded(touches, event);
}
void Responder::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (auto* next = nextResponder())
        next->touchesCancelled(touches, event);
}

} // namespace platform
