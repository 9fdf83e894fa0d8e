#include "platform/foundation/Bundle.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

namespace platform {
namespace {

std::filesystem::path defaultResourceDirectory() {
    if (const char* env = std::getenv("FW_BUNDLE_DIR"); env && *env)
        return env;
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return exe.parent_path() / "Resources";
    return {};
}

bool isSingleComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

} // namespace

Bundle& Bundle::main() {
    static Bundle* bundle = [] {
        auto* b = new Bundle();
        b->resources_ = defaultResourceDirectory();
        return b;
    }();
    return *bundle;
}

void Bundle::resetForTesting() {
    Bundle& b = main();
    std::lock_guard lock(b.mutex_);
    b.resources_ = defaultResourceDirectory();
    b.info_.reset();
}

void Bundle::setResourceDirectory(std::filesystem::path dir) {
    std::lock_guard lock(mutex_);
    resources_ = std::move(dir);
    info_.reset();
}

std::filesystem::path Bundle::resourceDirectory() const {
    std::lock_guard lock(mutex_);
    return resources_;
}

std::optional<std::filesystem::path> Bundle::pathForResource(std::string_view name, std::string_view type) const {
    std::string file(name);
    if (!type.empty())
        file += "." + std::string(type);
    if (!isSingleComponent(file))
        return std::nullopt;
    auto path = resourceDirectory() / file;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    return path;
}

void Bundle::loadInfoLocked() const {
    if (info_)
        return;
    info_ = Dictionary{};
    std::ifstream in(resources_ / "Info.plist", std::ios::binary);
    if (!in)
        return;
    std::stringstream text;
    text << in.rdbuf();
    if (auto v = Value::fromPropertyList(text.str()); v && v->dictionary())
        info_ = *v->dictionary();
}

Dictionary Bundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    loadInfoLocked();
    return *info_;
}

std::optional<Value> Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    loadInfoLocked();
    auto it = info_->find(key);
    if (it == info_->end())
        return std::nullopt;
    return it->second;
}

void Bundle::setInfoDictionaryValue(std::string_view key, Value value) {
    std::lock_guard lock(mutex_);
    loadInfoLocked();
    (*info_)[std::string(key)] = std::move(value);
}

void Bundle::setInfoDictionary(Dictionary info) {
    std::lock_guard lock(mutex_);
    info_ = std::move(info);
}

} // namespace platform
