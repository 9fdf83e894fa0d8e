#pragma once
// Places where a message waits for a timer to carry it on: a page's queue of commands that a
// bridge drains on a repeating timer, a command that waits for its worker's delayed wake-up.
// Nothing else marks such a message as work in progress (no request runs, no task is queued,
// no worker is busy), so code that waits for the program to come to rest (the runner's manual
// clock) asks these places, and lets the clock move to the next timer while one holds a
// message.
//
// Each place registers a probe that answers whether it holds a message now; the probe stays
// registered until its Registration is destroyed. Registering and unregistering are safe from
// any thread; probes are asked on the main thread only (a probe may read a page), and must
// stay cheap and hold their object weakly.
#include <functional>
#include <memory>

namespace platform {

class WaitingMessages {
public:
    using Probe = std::function<bool()>;

    // Unregisters its probe when destroyed.
    class Registration {
    public:
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

    private:
        friend class WaitingMessages;
        explicit Registration(std::shared_ptr<const Probe> probe) : probe_(std::move(probe)) {}
        std::shared_ptr<const Probe> probe_;
    };

    static std::unique_ptr<Registration> add(Probe probe);
    // Whether any registered place holds a message now. Main thread.
    static bool anyHeld();
    // Number of registered places, for tests.
    static std::size_t count();
};

} // namespace platform
