#include "link/shared_library.h"

#include "link/system_error.h"
#include "link/wide_text_win32.h"

#include <windows.h>

namespace tk7v {

std::unique_ptr<SharedLibrary> SharedLibrary::Load(const std::string& name, std::string& error) {
    HMODULE handle = ::LoadLibraryW(WideFrom(CP_UTF8, name).c_str());
    if (!handle) {
        error = name + ": " + SystemErrorText(::GetLastError());
        return nullptr;
    }
    return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle));
}

void* SharedLibrary::symbol(const char* symbol) const {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), symbol));
}

} // namespace tk7v
