#include "platform/foundation/ClassTable.h"

#include <map>
#include <mutex>

namespace platform {

namespace {

struct Entry {
    std::type_index type;
    ClassTable::Factory factory;
};

struct Table {
    std::mutex mutex;
    std::map<std::string, Entry, std::less<>> classes;
};

// Created on first use, so registrations made during static initialisation find it.
Table& table() {
    static Table* t = new Table;
    return *t;
}

} // namespace

void ClassTable::registerErased(std::string name, std::type_index type, Factory factory) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    t.classes.insert_or_assign(std::move(name), Entry{type, std::move(factory)});
}

bool ClassTable::unregisterClass(std::string_view name) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.classes.find(name);
    if (it == t.classes.end())
        return false;
    t.classes.erase(it);
    return true;
}

bool ClassTable::hasClass(std::string_view name) {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    return t.classes.find(name) != t.classes.end();
}

std::shared_ptr<void> ClassTable::createErased(std::string_view name, std::type_index type) {
    Factory factory;
    {
        auto& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.classes.find(name);
        if (it == t.classes.end() || it->second.type != type)
            return nullptr;
        factory = it->second.factory;
    }
    return factory ? factory() : nullptr;
}

} // namespace platform
