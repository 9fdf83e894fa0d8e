#pragma once
// The runtime's table of classes by name: code that uses a platform class only when the
// platform offers one looks it up here by name (as the platform's class-from-string lookup
// does) and makes instances through the registered factory.
//
// A class is registered under its name with the interface type its instances are made as;
// create<T>(name) answers an instance only when the class was registered as exactly T, so a
// lookup never hands out an object of the wrong type. Our platform registers nothing by
// default; tests register stand-in classes and remove them again.
//
// Thread-safe. Factories run without the table's lock held.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <typeinfo>

namespace platform {

class ClassTable {
public:
    using Factory = std::function<std::shared_ptr<void>()>;

    // Registers (or replaces) the class `name`, whose instances `factory` makes as T.
    template <typename T> static void registerClass(std::string name, std::function<std::shared_ptr<T>()> factory) {
        registerErased(std::move(name), std::type_index(typeid(T)),
                       [factory = std::move(factory)]() -> std::shared_ptr<void> { return factory(); });
    }
    // Removes the class; false when there was none of that name.
    static bool unregisterClass(std::string_view name);
    // Whether a class of that name exists (NSClassFromString answering non-nil).
    static bool hasClass(std::string_view name);
    // A new instance of the class `name` registered as T; null when there is no such class,
    // it was registered as another type, or its factory made nothing.
    template <typename T> static std::shared_ptr<T> create(std::string_view name) {
        auto instance = createErased(name, std::type_index(typeid(T)));
        return std::static_pointer_cast<T>(instance);
    }

private:
    static void registerErased(std::string name, std::type_index type, Factory factory);
    static std::shared_ptr<void> createErased(std::string_view name, std::type_index type);
};

} // namespace platform
