#include "link/shared_library.h"

#include <dlfcn.h>

namespace tk7v {

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string& error) {
    // Its symbols stay its own (RTLD_LOCAL), and every one is bound now, so that a library that
    // lacks one fails here, not in the middle of a call.
    void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        error = why ? why : name;
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

void* SharedLibrary::symbol(const char* symbol) const {
    return ::dlsym(handle_, symbol);
}

} // namespace tk7v
