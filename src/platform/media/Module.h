#pragma once
// Shared modules loaded on first use (the media demuxer, the sound decoder), so that their
// libraries are not loaded at start.
#include <string_view>

namespace platform {

// Loads the module at `path` for the rest of the process and answers its function named
// `function`; nullptr when the module or the function is missing (said in the log, naming the
// module as `what`).
void* loadModuleFunction(const char* path, const char* function, std::string_view what);

// The entry points a module's function `function` answers (`EntryPoints` being that
// function's result type), or nullptr when it cannot be loaded.
template <typename EntryPoints>
const EntryPoints* loadModuleEntryPoints(const char* path, const char* function, std::string_view what) {
    using EntryPointsFunction = const EntryPoints* (*)();
    auto entry = reinterpret_cast<EntryPointsFunction>(loadModuleFunction(path, function, what));
    return entry ? entry() : nullptr;
}

} // namespace platform
