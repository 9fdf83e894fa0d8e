#pragma once
// Named notifications delivered to observers, the platform's broadcast channel between
// objects that do not know each other ("kNetworkReachabilityChangedNotification",
// "backgroundPush", the application's life-cycle notifications).
//
// A notification has a name, an optional object (usually the sender, held as std::any, most
// often a std::shared_ptr<T>) and a user-info dictionary. An observer registers for one name
// (or every name, with an empty name) and optionally for one sender only; it is called
// synchronously, on the thread that posts, in the order observers registered.
//
// Ownership: the centre holds each observer's callback until it is removed. addObserver
// answers a token that removes the observation; an observation registered for an `owner`
// (any address, usually `this`) is also removed by removeObserver(owner), which is how an
// object ends all its observations at once. An observer whose owner is a weak_ptr (observe())
// is skipped and dropped once that owner is gone, so a callback never reaches a destroyed
// object. An observation removed while a notification is being delivered, even from inside
// another observer's callback, is not called afterwards.
//
// `defaultCenter()` is the process-wide centre; other centres can be made for separate uses.
// Thread-safe; callbacks run without the centre's lock held, so they may post and remove.
#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform {

struct Notification {
    std::string name;
    // What the poster attached; empty when nothing was.
    std::any object;
    // The identity of the object, for observers registered for one sender; nullptr if none.
    const void* sender = nullptr;
    Dictionary userInfo;

    // The attached object when it is a std::shared_ptr<T>; nullptr otherwise.
    template <typename T> std::shared_ptr<T> objectAs() const {
        if (auto p = std::any_cast<std::shared_ptr<T>>(&object))
            return *p;
        return nullptr;
    }
};

class NotificationCenter {
  public:
    using Callback = std::function<void(const Notification&)>;

    // Removes its observation when remove() is called; destroying a token does not remove it.
    class ObserverToken {
      public:
        ObserverToken() = default;
        bool isValid() const { return id_ != 0; }
        friend bool operator==(const ObserverToken&, const ObserverToken&) = default;

      private:
        friend class NotificationCenter;
        explicit ObserverToken(std::uint64_t id) : id_(id) {}
        std::uint64_t id_ = 0;
    };

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();
    // Drops every observer of the default centre.
    static void resetDefaultForTesting();

    // Observes `name` (every name when empty) from `sender` (any sender when nullptr).
    // `owner` only groups observations for removeObserver(owner).
    ObserverToken addObserver(std::string_view name, Callback callback, const void* sender = nullptr,
                              const void* owner = nullptr);

    // Observes on behalf of `owner` as long as it lives: the callback gets the owner, locked.
    template <typename T>
    ObserverToken observe(const std::shared_ptr<T>& owner, std::string_view name,
                          std::function<void(T&, const Notification&)> callback,
                          const void* sender = nullptr) {
        std::weak_ptr<T> weak = owner;
        return addObserverChecked(
            name,
            [weak, callback = std::move(callback)](const Notification& n) {
                if (auto strong = weak.lock())
                    callback(*strong, n);
            },
            [weak] { return !weak.expired(); }, sender, owner.get());
    }

    void removeObserver(ObserverToken token);
    // Every observation registered for `owner`, or only those for `name` (and, when given,
    // `sender`).
    void removeObserver(const void* owner);
    void removeObserver(const void* owner, std::string_view name, const void* sender = nullptr);

    void post(const Notification& notification);
    void post(std::string_view name, Dictionary userInfo = {});
    template <typename T>
    void post(std::string_view name, const std::shared_ptr<T>& object, Dictionary userInfo = {}) {
        Notification n{std::string(name), object, object.get(), std::move(userInfo)};
        post(n);
    }

    std::size_t observerCount() const;

  private:
    struct Observation {
        std::uint64_t id;
        std::string name;
        const void* sender;
        const void* owner;
        Callback callback;
        std::function<bool()> alive; // empty: always alive
        std::atomic<bool> removed{false};
    };

    ObserverToken addObserverChecked(std::string_view name, Callback callback, std::function<bool()> alive,
                                     const void* sender, const void* owner);
    void removeWhere(const std::function<bool(const Observation&)>& match);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Observation>> observations_;
    std::uint64_t nextId_ = 1;
};

} // namespace platform
