#include "platform/media/Module.h"

#include <dlfcn.h>

#include <string>

#include "platform/foundation/Log.h"

namespace platform {

void* loadModuleFunction(const char* path, const char* function, std::string_view what) {
    void* module = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        logLine("The " + std::string(what) + " cannot be loaded: " + ::dlerror());
        return nullptr;
    }
    // The module stays loaded for the rest of the process.
    void* found = ::dlsym(module, function);
    if (!found)
        logLine("The " + std::string(what) + " module has no entry points");
    return found;
}

} // namespace platform
