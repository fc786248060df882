#include "link/arguments.h"

#include <windows.h>

#include <shellapi.h>

namespace tk7v {

namespace {

std::string utf8(const wchar_t* wide) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

} // namespace

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide) {
        for (int i = 0; i < count; ++i)
            text_.push_back(utf8(wide[i]));
        ::LocalFree(wide);
    } else {
        text_.assign(argv, argv + argc); // no wide command line to be had: the ANSI one
    }
    for (std::string& a : text_)
        pointers_.push_back(a.data());
    pointers_.push_back(nullptr);
}

} // namespace tk7v
