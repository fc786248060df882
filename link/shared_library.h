#pragma once
// A shared library loaded while the program runs, for a part that only some runs use: a program
// that never needs it does not pay for loading it (and all it depends on) at every start.
#include <memory>
#include <string>

namespace tk7v {

class SharedLibrary {
public:
    // The library `name` ("libpq.so.5") as the system finds it; null with `error`, the system's
    // words, when it cannot be loaded. Loaded for good: nothing is unloaded while a thread may
    // still call into it.
    static std::unique_ptr<SharedLibrary> Load(const std::string& name, std::string& error);
    // The address of `symbol`, or null.
    void* symbol(const char* symbol) const;

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

} // namespace tk7v
